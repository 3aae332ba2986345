#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "config/keychain.h"

namespace vurin {
namespace {

using Env = std::map<std::string, std::string>;

TEST(ParseEnv, NameAndValueAreVerbatimAndLaterLinesWin) {
    EXPECT_EQ(parseEnv("GROQ_API_KEY=gsk_1\nOTHER=x\n\nGROQ_API_KEY=gsk_2\n"),
              (Env{{"GROQ_API_KEY", "gsk_2"}, {"OTHER", "x"}}));
    // No trimming, no quote removal, no comments, no export prefix.
    EXPECT_EQ(
        parseEnv(" GROQ_API_KEY=a \n\"Q\"='v'\n# C=comment\nexport E=\"e\""),
        (Env{
            {" GROQ_API_KEY", "a "}, {"\"Q\"", "'v'"}, {"# C", "comment"}, {"export E", "\"e\""}}));
}

TEST(ParseEnv, LeadingEqualsAreSkippedAndLaterOnesBelongToTheValue) {
    EXPECT_EQ(parseEnv("==A=b=c"), (Env{{"A", "b=c"}}));
    EXPECT_EQ(parseEnv("A==b"), (Env{{"A", "=b"}}));
}

TEST(ParseEnv, LinesWithoutBothNameAndValueAreIgnored) {
    EXPECT_EQ(parseEnv("A=\nB\n=\n===\n=C\n\n"), Env{});
}

TEST(ParseEnv, NoLineBreakEverEndsUpInAValue) {
    EXPECT_EQ(parseEnv("GROQ_API_KEY=gsk_1\r\nOPENAI_API_KEY=sk-1\r\n"),
              (Env{{"GROQ_API_KEY", "gsk_1"}, {"OPENAI_API_KEY", "sk-1"}}));
    EXPECT_EQ(parseEnv("A=1\rB=2"), (Env{{"A", "1"}, {"B", "2"}}));
    EXPECT_EQ(parseEnv("A=1\v2\fC=3\xC2\x85"
                       "D=4\xE2\x80\xA8"
                       "E=5\xE2\x80\xA9"
                       "F=6"),
              (Env{{"A", "1"}, {"C", "3"}, {"D", "4"}, {"E", "5"}, {"F", "6"}}));
}

TEST(EnvContentRemovingAccounts, RemovesNamedLinesAndKeepsEverythingElse) {
    const std::set<std::string> groq{"GROQ_API_KEY"};
    EXPECT_EQ(envContentRemovingAccounts("A=1\nGROQ_API_KEY=gsk\n\n# note\nB=2", groq),
              "A=1\n\n# note\nB=2");
    EXPECT_EQ(envContentRemovingAccounts("A=1\nGROQ_API_KEY=gsk\n", groq), "A=1\n");
    EXPECT_EQ(envContentRemovingAccounts("GROQ_API_KEY=gsk", groq), "");
}

TEST(EnvContentRemovingAccounts, NameOnlyAndEmptyValueLinesGoTooAndTheNameIsTrimmed) {
    const std::set<std::string> groq{"GROQ_API_KEY"};
    EXPECT_EQ(envContentRemovingAccounts("GROQ_API_KEY\nGROQ_API_KEY=\nX=1", groq), "X=1");
    EXPECT_EQ(envContentRemovingAccounts("  GROQ_API_KEY\t=gsk\n==GROQ_API_KEY=a\nX=1", groq),
              "X=1");
    // Prefixes and other spellings are other names.
    EXPECT_EQ(
        envContentRemovingAccounts("export GROQ_API_KEY=a\n#GROQ_API_KEY=b\ngroq_api_key=c", groq),
        "export GROQ_API_KEY=a\n#GROQ_API_KEY=b\ngroq_api_key=c");
}

TEST(EnvContentRemovingAccounts, NothingGoesWithoutAccountsAndEqualsOnlyLinesStay) {
    EXPECT_EQ(envContentRemovingAccounts("GROQ_API_KEY=a\n=\n", {}), "GROQ_API_KEY=a\n=\n");
    EXPECT_EQ(envContentRemovingAccounts("===\n\nGROQ_API_KEY=a", {"GROQ_API_KEY"}), "===\n");
}

TEST(EnvContentRemovingAccounts, EveryLineBreakSplitsAndCRLFLeavesAnEmptyLine) {
    const std::set<std::string> groq{"GROQ_API_KEY"};
    EXPECT_EQ(envContentRemovingAccounts("A=1\r\nGROQ_API_KEY=gsk\r\nB=2\r\n", groq),
              "A=1\n\n\nB=2\n\n");
    EXPECT_EQ(envContentRemovingAccounts("GROQ_API_KEY=gsk\xE2\x80\xA8rest", groq), "rest");
}

}  // namespace
}  // namespace vurin
