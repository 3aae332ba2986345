#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
