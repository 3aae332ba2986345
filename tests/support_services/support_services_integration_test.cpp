#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <set>
#include <thread>

#include "config/config.h"
#include "support/history.h"
#include "support/log.h"
#include "support/private_files.h"
#include "support/testing.h"

namespace vurin {
namespace {

class HistoryFile : public testing::FreshConfigFolderTest {};

TEST_F(HistoryFile, CompactUtf8LinesOfValidRecordsInAPrivateFileThatClearRemoves) {
    EXPECT_FALSE(clearHistoryFile());  // no file: success, and nothing is created
    EXPECT_FALSE(std::filesystem::exists(configDir()));
    appendHistory({{"raw", "bad \xff\xfe bytes"}});
    EXPECT_FALSE(std::filesystem::exists(historyURL()));
    appendHistory({{"sttMs", 812}, {"textSaved", false}});
    appendHistory({{"raw", "你好,世界 👋"}});
    EXPECT_EQ(testing::modeOf(configDir()), 0700u);
    EXPECT_EQ(testing::modeOf(historyURL()), 0600u);
    EXPECT_EQ(testing::contentOf(historyURL()),
              "{\"sttMs\":812,\"textSaved\":false}\n{\"raw\":\"你好,世界 👋\"}\n");
    ::chmod(historyURL().c_str(), 0644);  // as an older version left it
    appendHistory({{"n", 1}});
    EXPECT_EQ(testing::modeOf(historyURL()), 0600u);
    EXPECT_EQ(testing::readLines(historyURL()).size(), 3u);
    EXPECT_FALSE(clearHistoryFile());
    EXPECT_FALSE(std::filesystem::exists(historyURL()));
    std::filesystem::create_directories(historyURL() / "blocker");
    EXPECT_FALSE(clearHistoryFile().message().empty());
}

// Writers on several threads never interleave inside a line: each history record and each log
// line arrives whole, and none is lost.
TEST_F(HistoryFile, ConcurrentWritersGiveWholeLines) {
    constexpr int kEach = 500;
    const auto twice = [](auto write) {
        std::thread first(write, 'a');
        std::thread second(write, 'b');
        first.join();
        second.join();
    };
    twice([](char who) {
        for (int i = 0; i < kEach; ++i) {
            appendHistory({{"id", who + std::to_string(i)}, {"pad", std::string(300, 'x')}});
        }
    });
    std::set<std::string> records;
    for (const auto& line : testing::readLines(historyURL())) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << line;
        records.insert(record["id"].get<std::string>());
    }
    EXPECT_EQ(records.size(), 2u * kEach);

    const auto logFile = configDir() / "log.txt";
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    std::FILE* sink = std::fopen(logFile.c_str(), "w");
    ::dup2(::fileno(sink), STDOUT_FILENO);
    twice([](char who) {
        for (int i = 0; i < kEach; ++i) {
            log(std::string(1, who) + std::to_string(i) + std::string(200, '.'));
        }
    });
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::fclose(sink);
    const std::regex whole(R"(\[\d\d:\d\d:\d\d\.\d{3}\] [ab]\d+\.{200})");
    std::set<std::string> lines;
    for (const auto& line : testing::readLines(logFile)) {
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
        lines.insert(line.substr(15));
    }
    EXPECT_EQ(lines.size(), 2u * kEach);
}

TEST(LogOutput, AReaderThatWentAwayDoesNotEndTheProcess) {
    std::fflush(stdout);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[1]);
    ::close(ends[0]);
    log("nobody reads this");  // SIGPIPE would end the test binary here
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
}

}  // namespace
}  // namespace vurin
