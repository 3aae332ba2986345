#include "support/private_files.h"

#include <fstream>
#include <iterator>

#include "config/config.h"

namespace vurin::testing {

unsigned modeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::string contentOf(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void FreshConfigFolderTest::SetUp() {
    std::filesystem::remove_all(configDir());
    previousUmask_ = ::umask(0);
}

void FreshConfigFolderTest::TearDown() {
    ::umask(previousUmask_);
    std::filesystem::remove_all(configDir());
}

}  // namespace vurin::testing
