#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "config/private_file.h"
#include "support/private_files.h"

namespace vurin::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

using ConfigFiles = FreshConfigFolderTest;

TEST_F(ConfigFiles, LoadingCreatesNothingAndSavingMakesFolderAndFilePrivate) {
    EXPECT_EQ(loadConfig(), Config());
    EXPECT_FALSE(fs::exists(configDir()));
    saveConfig(Config{.phoneToken = "secret-token"});
    EXPECT_EQ(modeOf(configDir()), 0700u);
    EXPECT_EQ(modeOf(configURL()), 0600u);
    EXPECT_EQ(loadConfig().phoneToken, "secret-token");
    // An existing folder and file are tightened.
    ::chmod(configDir().c_str(), 0755);
    ::chmod(configURL().c_str(), 0644);
    saveConfig(Config());
    EXPECT_EQ(modeOf(configDir()), 0700u);
    EXPECT_EQ(modeOf(configURL()), 0600u);
}

TEST_F(ConfigFiles, TemporaryFileIsPrivateAndEmptyFromItsCreation) {
    fs::create_directories(configDir());
    auto temp = createPrivateTempFile(configURL());
    ASSERT_TRUE(temp.has_value());
    struct stat info {};
    ASSERT_EQ(::fstat(temp->fd.get(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_EQ(temp->path.parent_path(), configDir());
    EXPECT_NE(temp->path, configURL());
    fs::remove(temp->path);
}

TEST_F(ConfigFiles, SavesLeaveOnlyTheFileAndAFailedReplaceLeavesNoTemporaryFile) {
    for (int i = 0; i < 20; ++i) {
        saveConfig(Config{.keyCode = i});
    }
    EXPECT_EQ(namesIn(configDir()), std::vector<std::string>{"config.json"});
    EXPECT_EQ(loadConfig().keyCode, 19);
    fs::create_directories(configDir() / "occupied" / "inside");
    EXPECT_FALSE(writeFilePrivateAtomically(configDir() / "occupied", "bytes"));
    EXPECT_EQ(namesIn(configDir()).size(), 2u);
    EXPECT_FALSE(writeFilePrivateAtomically(configDir() / "missing" / "file", "bytes"));
}

TEST_F(ConfigFiles, ReadersSeeEitherTheOldOrTheNewFileNeverAPart) {
    const Config small;
    const Config large{.phoneToken = std::string(200000, 'k')};
    saveConfig(small);
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i) {
            saveConfig(i % 2 == 0 ? large : small);
        }
        writing = false;
    });
    int reads = 0;
    int broken = 0;
    while (writing || reads == 0) {
        const auto decoded = decodeConfig(contentOf(configURL()));
        broken += decoded == small || decoded == large ? 0 : 1;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(broken, 0) << "of " << reads << " reads";
}

TEST_F(ConfigFiles, AnInvalidOrUnreadableFileLoadsDefaultsAndStaysUntilTheNextSave) {
    fs::create_directories(configURL());  // a folder where the file should be
    EXPECT_EQ(loadConfig(), Config());
    fs::remove(configURL());
    const std::string bad = R"({"keyCode": 96, "sendOnClick": "yes"})";
    std::ofstream(configURL()) << bad;
    EXPECT_EQ(loadConfig(), Config());
    EXPECT_EQ(contentOf(configURL()), bad);
    saveConfig(Config{.keyCode = 7});
    const std::string saved = contentOf(configURL());
    EXPECT_EQ(decodeConfig(saved), Config{.keyCode = 7});
    saveConfig(Config{.phoneToken = "\xff\xfe"});  // cannot be encoded: the file stays
    EXPECT_EQ(contentOf(configURL()), saved);
}

}  // namespace
}  // namespace vurin::testing
