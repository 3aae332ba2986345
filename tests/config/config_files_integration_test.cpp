#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "config/private_file.h"
#include "support/private_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using testing::contentOf;
using testing::modeOf;

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class ConfigFiles : public testing::FreshConfigFolderTest {};

TEST_F(ConfigFiles, LoadingWithoutAFileGivesDefaultsAndCreatesNothing) {
    EXPECT_EQ(loadConfig(), Config());
    EXPECT_FALSE(fs::exists(configDir()));
}

TEST_F(ConfigFiles, FirstSaveCreatesAPrivateFolderAndFile) {
    Config config;
    config.phoneToken = "secret-token";
    saveConfig(config);
    EXPECT_EQ(modeOf(configDir()), 0700u);
    EXPECT_EQ(modeOf(configURL()), 0600u);
    EXPECT_EQ(loadConfig(), config);
}

TEST_F(ConfigFiles, SaveTightensAnExistingFolderAndFile) {
    fs::create_directories(configDir());
    ::chmod(configDir().c_str(), 0755);
    writeFile(configURL(), "{}");
    ::chmod(configURL().c_str(), 0644);
    saveConfig(Config());
    EXPECT_EQ(modeOf(configDir()), 0700u);
    EXPECT_EQ(modeOf(configURL()), 0600u);
}

TEST_F(ConfigFiles, TemporaryFileIsPrivateFromItsCreation) {
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

TEST_F(ConfigFiles, RepeatedSavesLeaveOnlyTheConfigFile) {
    Config config;
    for (int i = 0; i < 20; ++i) {
        config.keyCode = i;
        saveConfig(config);
    }
    EXPECT_EQ(namesIn(configDir()), std::vector<std::string>{"config.json"});
    EXPECT_EQ(loadConfig().keyCode, 19);
}

TEST_F(ConfigFiles, FailedReplaceReportsFalseAndLeavesNoTemporaryFile) {
    fs::create_directories(configDir() / "occupied");
    writeFile(configDir() / "occupied" / "inside", "x");
    EXPECT_FALSE(writeFilePrivateAtomically(configDir() / "occupied", "bytes"));
    EXPECT_EQ(namesIn(configDir()), std::vector<std::string>{"occupied"});
    EXPECT_FALSE(writeFilePrivateAtomically(configDir() / "missing" / "file", "bytes"));
}

TEST_F(ConfigFiles, ReadersSeeEitherTheOldOrTheNewFileNeverAPart) {
    Config small;
    Config large;
    large.phoneToken = std::string(200000, 'k');
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
        broken += decoded.has_value() && (*decoded == small || *decoded == large) ? 0 : 1;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(broken, 0) << "of " << reads << " reads";
}

TEST_F(ConfigFiles, InvalidFileLoadsDefaultsAndStaysUntilTheNextSave) {
    fs::create_directories(configDir());
    const std::string bad = R"({"keyCode": 96, "sendOnClick": "yes"})";
    writeFile(configURL(), bad);
    EXPECT_EQ(loadConfig(), Config());
    EXPECT_EQ(contentOf(configURL()), bad);
    saveConfig(Config());
    EXPECT_TRUE(decodeConfig(contentOf(configURL())).has_value());
}

TEST_F(ConfigFiles, LegacyProviderIsRewrittenAsBothStageKeys) {
    fs::create_directories(configDir());
    writeFile(configURL(), R"({"cloudProvider": "openai"})");
    saveConfig(loadConfig());
    const std::string text = contentOf(configURL());
    EXPECT_EQ(text.find("\"cloudProvider\""), std::string::npos);
    EXPECT_NE(text.find(R"("sttCloudProvider": "openai")"), std::string::npos);
    EXPECT_NE(text.find(R"("polishCloudProvider": "openai")"), std::string::npos);
}

TEST_F(ConfigFiles, UnencodableRecordKeepsThePreviousFile) {
    Config config;
    config.keyCode = 7;
    saveConfig(config);
    const std::string before = contentOf(configURL());
    config.phoneToken = "\xff\xfe";
    saveConfig(config);
    EXPECT_EQ(contentOf(configURL()), before);
}

TEST_F(ConfigFiles, UnreadableConfigPathGivesDefaults) {
    fs::create_directories(configURL());  // a folder where the file should be
    EXPECT_EQ(loadConfig(), Config());
}

}  // namespace
}  // namespace vurin
