#include "support/history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <thread>

#include "config/config.h"
#include "support/private_files.h"
#include "support/testing.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using testing::contentOf;
using testing::modeOf;
using testing::readLines;
using Lines = std::vector<std::string>;

class HistoryFile : public testing::FreshConfigFolderTest {};

TEST_F(HistoryFile, CompactUtf8LinesInAPrivateFileAndFolder) {
    appendHistory({{"sttMs", 812}, {"textSaved", false}});
    appendHistory({{"raw", "你好,世界 👋"}});
    EXPECT_EQ(modeOf(configDir()), 0700u);
    EXPECT_EQ(modeOf(historyURL()), 0600u);
    EXPECT_EQ(contentOf(historyURL()),
              "{\"sttMs\":812,\"textSaved\":false}\n{\"raw\":\"你好,世界 👋\"}\n");
}

TEST_F(HistoryFile, InvalidUtf8RecordWritesNothing) {
    appendHistory({{"raw", "bad \xff\xfe bytes"}});
    EXPECT_FALSE(fs::exists(historyURL()));
    appendHistory({{"n", 1}});
    appendHistory({{"polished", std::string("\xc3")}});
    EXPECT_EQ(readLines(historyURL()), Lines{R"({"n":1})"});
}

TEST_F(HistoryFile, ConcurrentAppendsGiveWholeLines) {
    constexpr int kEach = 1000;
    auto appender = [](const std::string& who) {
        for (int i = 0; i < kEach; ++i) {
            appendHistory({{"who", who}, {"i", i}, {"pad", std::string(300, 'x')}});
        }
    };
    std::thread first(appender, "a");
    std::thread second(appender, "b");
    first.join();
    second.join();
    const auto lines = readLines(historyURL());
    ASSERT_EQ(lines.size(), 2u * kEach);
    std::set<std::string> seen;
    for (const auto& line : lines) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << line;
        seen.insert(record["who"].get<std::string>() + std::to_string(record["i"].get<int>()));
    }
    EXPECT_EQ(seen.size(), 2u * kEach);
}

TEST_F(HistoryFile, ClearRemovesTheFileAndTheNextAppendStartsAFreshPrivateOne) {
    EXPECT_FALSE(clearHistoryFile());  // no file: success, and nothing is created
    EXPECT_FALSE(fs::exists(configDir()));
    appendHistory({{"n", 1}});
    EXPECT_FALSE(clearHistoryFile());
    EXPECT_FALSE(fs::exists(historyURL()));
    appendHistory({{"n", 3}});
    EXPECT_EQ(readLines(historyURL()), Lines{R"({"n":3})"});
    EXPECT_EQ(modeOf(historyURL()), 0600u);
}

TEST_F(HistoryFile, ClearReportsAFailedDeletion) {
    fs::create_directories(historyURL() / "blocker");
    const std::error_code error = clearHistoryFile();
    EXPECT_TRUE(error);
    EXPECT_FALSE(error.message().empty());
    EXPECT_TRUE(fs::exists(historyURL()));
}

TEST_F(HistoryFile, AppendTightensAnOlderWideFile) {
    fs::create_directories(configDir());
    std::ofstream(historyURL()) << R"({"n":0})" << '\n';
    ::chmod(historyURL().c_str(), 0644);
    ::chmod(configDir().c_str(), 0755);
    appendHistory({{"n", 1}});
    EXPECT_EQ(modeOf(historyURL()), 0600u);
    EXPECT_EQ(modeOf(configDir()), 0700u);
    EXPECT_EQ(readLines(historyURL()), (Lines{R"({"n":0})", R"({"n":1})"}));
}

}  // namespace
}  // namespace vurin
