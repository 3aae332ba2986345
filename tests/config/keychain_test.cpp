#include "config/keychain.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/fake_secret_store.h"
#include "support/testing.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;

class KeychainTest : public ::testing::Test {
  protected:
    void SetUp() override { installSecretStore(store); }
    void TearDown() override { installSecretStore(nullptr); }

    std::shared_ptr<FakeSecretStore> store = std::make_shared<FakeSecretStore>();
    LogCapture log;
};

TEST_F(KeychainTest, StoringUpdatesElseAddsUnderTheProductsServiceKeepingTheBytes) {
    EXPECT_TRUE(Keychain::set("sk-one", "OPENAI_API_KEY"));
    EXPECT_EQ(store->calls, (Lines{"update OPENAI_API_KEY", "add OPENAI_API_KEY"}));
    EXPECT_TRUE(Keychain::set(" 密钥-ключ-🔑\t", "OPENAI_API_KEY"));
    EXPECT_EQ(store->calls.back(), "update OPENAI_API_KEY");
    EXPECT_EQ(Keychain::get("OPENAI_API_KEY"), " 密钥-ключ-🔑\t");
    ASSERT_EQ(store->items.size(), 1u);
    EXPECT_EQ(store->items.begin()->first.first, "com.vurin.app");
    // Empty or non-UTF-8 keys never reach the store.
    store->calls.clear();
    EXPECT_FALSE(Keychain::set("", "OPENAI_API_KEY"));
    EXPECT_FALSE(Keychain::set("sk-\xff", "OPENAI_API_KEY"));
    EXPECT_TRUE(store->calls.empty());
    // A removal that fails or finds nothing is ignored.
    store->removeFailure = SecretStatus::noService;
    Keychain::deleteItem("OPENAI_API_KEY");
    store->removeFailure.reset();
    Keychain::deleteItem("OPENAI_API_KEY");
    Keychain::deleteItem("OPENAI_API_KEY");
    EXPECT_TRUE(store->items.empty());
    EXPECT_EQ(store->calls, Lines(3, "remove OPENAI_API_KEY"));
}

TEST_F(KeychainTest, AFailedWriteKeepsTheOldKeyAndLogsWhyNeverTheValue) {
    store->put("GROQ_API_KEY", "gsk_old");
    for (const auto status : {SecretStatus::locked, SecretStatus::failure}) {
        store->updateFailure = status;
        EXPECT_FALSE(Keychain::set("gsk_secret_value", "GROQ_API_KEY"));
    }
    store->items.clear();
    store->updateFailure.reset();
    store->addFailure = SecretStatus::noService;
    EXPECT_FALSE(Keychain::set("gsk_secret_value", "GROQ_API_KEY"));
    EXPECT_EQ(store->calls, (Lines{"update GROQ_API_KEY", "update GROQ_API_KEY",
                                   "update GROQ_API_KEY", "add GROQ_API_KEY"}));
    EXPECT_EQ(store->value("GROQ_API_KEY"), std::nullopt);
    const std::string failed = "❌ 保存 GROQ_API_KEY 的 Key 失败:";
    EXPECT_EQ(log.lines(), (Lines{failed + "钥匙环已锁定 (locked)", failed + "update refused",
                                  failed + "无法连接 Secret Service (no service): add refused"}));
}

TEST_F(KeychainTest, AReadThatGivesNothingSaysWhyOnceUntilItChangesNeverTheValue) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    }
    for (const char* stored : {"gsk_1", "", "\xc3\x28", "gsk_secret_value"}) {
        store->put("GROQ_API_KEY", stored);
        EXPECT_EQ(Keychain::get("GROQ_API_KEY"),
                  *stored == 'g' ? std::optional(stored) : std::nullopt);
    }
    for (const auto status :
         {SecretStatus::noService, SecretStatus::locked, SecretStatus::failure}) {
        store->readFailure = status;
        EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    }
    store->readFailure.reset();
    Keychain::deleteItem("GROQ_API_KEY");
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    EXPECT_EQ(Keychain::get("OPENAI_API_KEY"), std::nullopt);  // each account has its own note
    const std::string missing = "🔑 Keychain 中没有 GROQ_API_KEY 的 Key (item not found)";
    const std::string readFailed = "⚠️ 读取 GROQ_API_KEY 的 Key 失败,按未设置处理:";
    EXPECT_EQ(
        log.lines(),
        (Lines{missing, "⚠️ Keychain 中 GROQ_API_KEY 的 Key 为空,按未设置处理",
               "⚠️ Keychain 中 GROQ_API_KEY 的 Key 不是 UTF-8 文本,按未设置处理",
               readFailed + "无法连接 Secret Service (no service): read refused",
               readFailed + "钥匙环已锁定 (locked)", readFailed + "read refused", missing,
               "🔑 Keychain 中没有 OPENAI_API_KEY 的 Key (item not found)"}));
}

TEST_F(KeychainTest, WithoutAStoreWritesFailAndReadsGiveNothing) {
    installSecretStore(nullptr);
    EXPECT_FALSE(Keychain::set("gsk_new", "GROQ_API_KEY"));
    EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    Keychain::deleteItem("GROQ_API_KEY");
    EXPECT_EQ(cloudKey("groq"), "");
    EXPECT_EQ(log.lines(),
              (Lines{"❌ 保存 GROQ_API_KEY 的 Key 失败:没有可用的 Keychain",
                     "⚠️ 读取 GROQ_API_KEY 的 Key 失败,按未设置处理:无法连接 "
                     "Secret Service (no service): 没有可用的 Keychain"}));
}

TEST_F(KeychainTest, CloudKeyReadsTheProvidersAccountAndUnknownIdsMeanGroq) {
    store->put("GROQ_API_KEY", "gsk_1");
    store->put("OPENAI_API_KEY", "sk-1");
    EXPECT_EQ(cloudKey("gemini"), "");
    store->put("GEMINI_API_KEY", "AIza1");
    for (const auto& [id, key] : {std::pair{"groq", "gsk_1"},
                                  {"openai", "sk-1"},
                                  {"gemini", "AIza1"},
                                  {"no-such-provider", "gsk_1"},
                                  {"", "gsk_1"}}) {
        EXPECT_EQ(cloudKey(id), key) << id;
    }
}

using Env = std::map<std::string, std::string>;

TEST(ParseEnv, NameAndValueVerbatimSplitAtEveryLineBreak) {
    const std::vector<std::pair<std::string, Env>> cases = {
        {"GROQ_API_KEY=gsk_1\nOTHER=x\n\nGROQ_API_KEY=gsk_2\n",
         {{"GROQ_API_KEY", "gsk_2"}, {"OTHER", "x"}}},
        // No trimming, no quote removal, no comments, no export prefix.
        {" GROQ_API_KEY=a \n\"Q\"='v'\n# C=comment\nexport E=\"e\"",
         {{" GROQ_API_KEY", "a "}, {"\"Q\"", "'v'"}, {"# C", "comment"}, {"export E", "\"e\""}}},
        {"==A=b=c", {{"A", "b=c"}}},
        {"A==b", {{"A", "=b"}}},
        {"A=\nB\n=\n===\n=C\n\n", {}},
        {"GROQ_API_KEY=gsk_1\r\nOPENAI_API_KEY=sk-1\r\n",
         {{"GROQ_API_KEY", "gsk_1"}, {"OPENAI_API_KEY", "sk-1"}}},
        {"A=1\rB=2", {{"A", "1"}, {"B", "2"}}},
        {"A=1\v2\fC=3\xC2\x85"
         "D=4\xE2\x80\xA8"
         "E=5\xE2\x80\xA9"
         "F=6",
         {{"A", "1"}, {"C", "3"}, {"D", "4"}, {"E", "5"}, {"F", "6"}}},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(parseEnv(content), expected) << content;
    }
}

TEST(EnvContentRemovingAccounts, DropsTheLinesOfTrimmedNamesOnly) {
    const std::set<std::string> groq{"GROQ_API_KEY"};
    const struct {
        std::string content;
        std::set<std::string> accounts;
        std::string kept;
    } cases[] = {
        {"A=1\nGROQ_API_KEY=gsk\n\n# note\nB=2", groq, "A=1\n\n# note\nB=2"},
        {"A=1\nGROQ_API_KEY=gsk\n", groq, "A=1\n"},
        {"GROQ_API_KEY=gsk", groq, ""},
        {"GROQ_API_KEY\nGROQ_API_KEY=\nX=1", groq, "X=1"},
        {"  GROQ_API_KEY\t=gsk\n==GROQ_API_KEY=a\nX=1", groq, "X=1"},
        {"export GROQ_API_KEY=a\n#GROQ_API_KEY=b\ngroq_api_key=c", groq,
         "export GROQ_API_KEY=a\n#GROQ_API_KEY=b\ngroq_api_key=c"},
        {"GROQ_API_KEY=a\n=\n", {}, "GROQ_API_KEY=a\n=\n"},
        {"===\n\nGROQ_API_KEY=a", groq, "===\n"},
        // CR LF is two line breaks: an empty line is left between its halves.
        {"A=1\r\nGROQ_API_KEY=gsk\r\nB=2\r\n", groq, "A=1\n\n\nB=2\n\n"},
        {"GROQ_API_KEY=gsk\xE2\x80\xA8rest", groq, "rest"},
    };
    for (const auto& [content, accounts, kept] : cases) {
        EXPECT_EQ(envContentRemovingAccounts(content, accounts), kept) << content;
    }
}

}  // namespace
}  // namespace vurin::testing
