#include "support/history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "support/private_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using testing::contentOf;
using testing::modeOf;

std::string historyText() {
    std::ifstream file(historyURL(), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> historyLines() {
    std::vector<std::string> lines;
    std::ifstream file(historyURL(), std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

class HistoryFile : public testing::FreshConfigFolderTest {};

TEST_F(HistoryFile, FirstAppendCreatesAPrivateFileInAPrivateFolder) {
    appendHistory({{"sttMs", 812}, {"textSaved", false}});
    EXPECT_EQ(modeOf(configDir()), 0700u);
    EXPECT_EQ(modeOf(historyURL()), 0600u);
    const auto lines = historyLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(lines[0]),
              (nlohmann::json{{"sttMs", 812}, {"textSaved", false}}));
    EXPECT_EQ(historyText().back(), '\n');
}

TEST_F(HistoryFile, LinesAreCompactAndNonAsciiIsNotEscaped) {
    appendHistory({{"raw", "你好,世界 👋"}, {"n", 1}});
    const std::string text = historyText();
    EXPECT_NE(text.find("你好,世界 👋"), std::string::npos) << text;
    EXPECT_EQ(text.find("\\u"), std::string::npos) << text;
    EXPECT_EQ(text.find(": "), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1);
}

TEST_F(HistoryFile, InvalidUtf8RecordWritesNothing) {
    appendHistory({{"raw", "bad \xff\xfe bytes"}});
    EXPECT_FALSE(fs::exists(historyURL()));
    appendHistory({{"n", 1}});
    appendHistory({{"polished", std::string("\xc3")}});
    EXPECT_EQ(historyLines(), std::vector<std::string>{R"({"n":1})"});
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
    const auto lines = historyLines();
    ASSERT_EQ(lines.size(), 2u * kEach);
    std::set<std::string> seen;
    for (const auto& line : lines) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << line;
        seen.insert(record["who"].get<std::string>() + std::to_string(record["i"].get<int>()));
    }
    EXPECT_EQ(seen.size(), 2u * kEach);
}

TEST_F(HistoryFile, AppendAfterClearStartsAFreshPrivateFile) {
    appendHistory({{"n", 1}});
    appendHistory({{"n", 2}});
    EXPECT_FALSE(clearHistoryFile());
    EXPECT_FALSE(fs::exists(historyURL()));
    appendHistory({{"n", 3}});
    EXPECT_EQ(historyLines(), std::vector<std::string>{R"({"n":3})"});
    EXPECT_EQ(modeOf(historyURL()), 0600u);
}

TEST_F(HistoryFile, ClearWithoutAFileSucceedsAndCreatesNothing) {
    EXPECT_FALSE(clearHistoryFile());
    EXPECT_FALSE(fs::exists(configDir()));
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
    EXPECT_EQ(historyLines(), (std::vector<std::string>{R"({"n":0})", R"({"n":1})"}));
}

}  // namespace
}  // namespace vurin
