#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "config/config.h"

namespace vurin::testing {

// The permission bits (07777) and the content (empty when it cannot be read) of a file.
inline unsigned modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

inline std::string contentOf(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A folder of the test's own, removed afterwards.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vurin-inject-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// No configuration folder and a umask of 0, so a file created too open shows it.
class FreshConfigFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove_all(configDir());
        previousUmask_ = ::umask(0);
    }
    void TearDown() override {
        ::umask(previousUmask_);
        std::filesystem::remove_all(configDir());
    }
    mode_t previousUmask_ = 0;
};

}  // namespace vurin::testing
