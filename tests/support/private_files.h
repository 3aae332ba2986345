#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace vurin::testing {

// The permission bits of a file or folder (07777).
unsigned modeOf(const std::filesystem::path& path);

// The whole content of a file; empty when it cannot be read.
std::string contentOf(const std::filesystem::path& path);

// Each test starts without a configuration folder and with a permissive umask, so a file that
// is created with wider permissions than it should have shows them.
class FreshConfigFolderTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

  private:
    mode_t previousUmask_ = 0;
};

}  // namespace vurin::testing
