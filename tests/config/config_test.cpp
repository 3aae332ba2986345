#include "config/config.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>

#include "config/keychain.h"
#include "support/fake_secret_store.h"
#include "support/testing.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;

// config.json is read back by earlier and later versions: its exact text is the format.
TEST(ConfigEncoding, DefaultsAreWrittenPrettyInFieldOrder) {
    EXPECT_EQ(decodeConfig("{}"), Config());
    EXPECT_EQ(encodeConfig(Config()), R"({
  "keyCode": 105,
  "sendOnClick": true,
  "sttProvider": "local",
  "sttLanguage": "auto",
  "polishProvider": "local",
  "allowCloudFallback": false,
  "saveTextHistory": false,
  "sttCloudProvider": "groq",
  "polishCloudProvider": "groq",
  "uiLang": "auto",
  "soundVolume": 0.3,
  "micDevice": "builtin",
  "phoneTriggerEnabled": false,
  "phoneToken": "",
  "autoCheckUpdates": true
}
)");
    EXPECT_EQ(encodeConfig(Config{.phoneToken = "\xc3\x28"}), "");  // not UTF-8
}

// Each stored document decodes as the canonical one beside it; every key is read.
TEST(ConfigDecoding, LegacyKeysNullsClampingAndUnlistedValues) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"keyCode": null, "soundVolume": null, "cloudProvider": null, "sttProvider": null})",
         "{}"},
        {R"({"cloudProvider": "openai"})",
         R"({"sttCloudProvider": "openai", "polishCloudProvider": "openai"})"},
        {R"({"cloudProvider": "openai", "polishCloudProvider": "gemini", "sttCloudProvider": null})",
         R"({"sttCloudProvider": "openai", "polishCloudProvider": "gemini"})"},
        {R"({"soundVolume": 1.7})", R"({"soundVolume": 1.0})"},
        {R"({"soundVolume": -0.2})", R"({"soundVolume": 0.0})"},
        {R"({"soundVolume": 1})", R"({"soundVolume": 1.0})"},
        {R"({"micDevice": "System"})", "{}"},
        {R"({"keyCode": 9223372036854775807, "unknownKey": [1]})",
         R"({"keyCode": 9223372036854775807})"},
    };
    for (const auto& [stored, canonical] : cases) {
        EXPECT_EQ(decodeConfig(stored), decodeConfig(canonical)) << stored;
    }
    const std::string stored =
        R"({"keyCode": -9223372036854775808, "sendOnClick": false, "sttProvider": "remote",
            "sttLanguage": "fr", "polishProvider": "cloud", "allowCloudFallback": true,
            "saveTextHistory": true, "sttCloudProvider": "azure", "polishCloudProvider": "gemini",
            "uiLang": "de", "soundVolume": 0.55, "micDevice": "system",
            "phoneTriggerEnabled": true, "phoneToken": "tök-🔑", "autoCheckUpdates": false})";
    EXPECT_EQ(nlohmann::json::parse(encodeConfig(decodeConfig(stored).value())),
              nlohmann::json::parse(stored));
}

TEST(ConfigDecoding, AWronglyTypedKeyOrADocumentThatIsNoObjectGivesNothing) {
    for (const char* json :
         {R"({"sendOnClick": "true"})", R"({"keyCode": "F13"})", R"({"keyCode": 96.0})",
          R"({"keyCode": 9223372036854775808})", R"({"soundVolume": "0.5"})",
          R"({"sttProvider": 1})", R"({"phoneToken": {"a": 1}})", R"({"autoCheckUpdates": 1})",
          R"({"micDevice": ["system"]})", R"({"cloudProvider": 5})", "", "null", "[]", "{",
          "{\"keyCode\": 96,}", "{} {}", "{\"phoneToken\": \"\xff\"}"}) {
        EXPECT_EQ(decodeConfig(json), std::nullopt) << json;
    }
}

TEST(ConfigPaths, AnAbsoluteXdgConfigHomeElseTheHomeFolder) {
    EXPECT_EQ(configDirFrom("/x/conf", "/home/ann"), "/x/conf/vurin");
    EXPECT_EQ(configDirFrom("relative/conf", "/home/ann"), "/home/ann/.config/vurin");
    EXPECT_EQ(configDirFrom("", "/home/ann"), "/home/ann/.config/vurin");
}

class KeychainTest : public ::testing::Test {
  protected:
    void SetUp() override { installSecretStore(store); }
    void TearDown() override { installSecretStore(nullptr); }

    std::shared_ptr<FakeSecretStore> store = std::make_shared<FakeSecretStore>();
    LogCapture log;
};

TEST_F(KeychainTest, StoringUpdatesElseAddsUnderTheProductsServiceKeepingTheBytes) {
    EXPECT_TRUE(Keychain::set("sk-one", "OPENAI_API_KEY"));
    EXPECT_TRUE(Keychain::set(" 密钥-ключ-🔑\t", "OPENAI_API_KEY"));
    EXPECT_FALSE(Keychain::set("", "OPENAI_API_KEY"));  // empty or not UTF-8: never stored
    EXPECT_FALSE(Keychain::set("sk-\xff", "OPENAI_API_KEY"));
    EXPECT_EQ(Keychain::get("OPENAI_API_KEY"), " 密钥-ключ-🔑\t");
    EXPECT_EQ(store->services, std::set<std::string>{"com.vurin.app"});
    // A removal that fails or finds nothing is ignored.
    store->failures["remove"] = SecretStatus::noService;
    Keychain::deleteItem("OPENAI_API_KEY");
    store->failures.clear();
    Keychain::deleteItem("OPENAI_API_KEY");
    Keychain::deleteItem("OPENAI_API_KEY");
    EXPECT_TRUE(store->items.empty());
    EXPECT_EQ(store->calls,
              (Lines{"update OPENAI_API_KEY", "add OPENAI_API_KEY", "update OPENAI_API_KEY",
                     "read OPENAI_API_KEY", "remove OPENAI_API_KEY", "remove OPENAI_API_KEY",
                     "remove OPENAI_API_KEY"}));
}

TEST_F(KeychainTest, AFailedWriteLogsWhyNeverTheValue) {
    store->items["GROQ_API_KEY"] = "gsk_old";
    for (const auto status : {SecretStatus::locked, SecretStatus::failure}) {
        store->failures["update"] = status;
        EXPECT_FALSE(Keychain::set("gsk_secret_value", "GROQ_API_KEY"));
    }
    store->items.clear();
    store->failures = {{"add", SecretStatus::noService}};
    EXPECT_FALSE(Keychain::set("gsk_secret_value", "GROQ_API_KEY"));
    installSecretStore(nullptr);
    EXPECT_FALSE(Keychain::set("gsk_new", "GROQ_API_KEY"));
    const std::string failed = "❌ 保存 GROQ_API_KEY 的 Key 失败:";
    EXPECT_EQ(log.lines(), (Lines{failed + "钥匙环已锁定 (locked)", failed + "update refused",
                                  failed + "无法连接 Secret Service (no service): add refused",
                                  failed + "没有可用的 Keychain"}));
}

TEST_F(KeychainTest, AReadThatGivesNothingSaysWhyOnceUntilItChangesNeverTheValue) {
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    }
    for (const char* stored : {"gsk_1", "", "\xc3\x28", "gsk_secret_value"}) {
        store->items["GROQ_API_KEY"] = stored;
        EXPECT_EQ(Keychain::get("GROQ_API_KEY"),
                  *stored == 'g' ? std::optional(stored) : std::nullopt);
    }
    for (const auto status :
         {SecretStatus::noService, SecretStatus::locked, SecretStatus::failure}) {
        store->failures["read"] = status;
        EXPECT_EQ(Keychain::get("GROQ_API_KEY"), std::nullopt);
    }
    EXPECT_EQ(Keychain::get("OPENAI_API_KEY"), std::nullopt);  // each account has its own note
    installSecretStore(nullptr);
    EXPECT_EQ(cloudKey("groq"), "");
    Keychain::deleteItem("GROQ_API_KEY");
    const std::string readFailed = "⚠️ 读取 GROQ_API_KEY 的 Key 失败,按未设置处理:";
    EXPECT_EQ(
        log.lines(),
        (Lines{"🔑 Keychain 中没有 GROQ_API_KEY 的 Key (item not found)",
               "⚠️ Keychain 中 GROQ_API_KEY 的 Key 为空,按未设置处理",
               "⚠️ Keychain 中 GROQ_API_KEY 的 Key 不是 UTF-8 文本,按未设置处理",
               readFailed + "无法连接 Secret Service (no service): read refused",
               readFailed + "钥匙环已锁定 (locked)", readFailed + "read refused",
               "⚠️ 读取 OPENAI_API_KEY 的 Key 失败,按未设置处理:read refused",
               readFailed + "无法连接 Secret Service (no service): 没有可用的 Keychain"}));
}

// Every line break ends a line: LF, VT, FF, CR (CR LF is two), NEL, LS and PS.
TEST(ParseEnv, NameAndValueVerbatimSplitAtEveryLineBreak) {
    using Env = std::map<std::string, std::string>;
    const std::pair<std::string, Env> cases[] = {
        {"GROQ_API_KEY=gsk_1\nOTHER=x\n\nGROQ_API_KEY=gsk_2\n",
         {{"GROQ_API_KEY", "gsk_2"}, {"OTHER", "x"}}},
        // No trimming, no quote removal, no comments, no export prefix.
        {" GROQ_API_KEY=a \n\"Q\"='v'\n# C=comment\nexport E=\"e\"",
         {{" GROQ_API_KEY", "a "}, {"\"Q\"", "'v'"}, {"# C", "comment"}, {"export E", "\"e\""}}},
        {"==A=b=c\nB==b\nC=\nD\n=\n===\n=E\n", {{"A", "b=c"}, {"B", "=b"}}},
        {"GROQ_API_KEY=gsk_1\r\nOPENAI_API_KEY=sk-1\r\n",
         {{"GROQ_API_KEY", "gsk_1"}, {"OPENAI_API_KEY", "sk-1"}}},
        {"A=1\v2\fC=3\xC2\x85"
         "D=4\xE2\x80\xA8"
         "E=5\xE2\x80\xA9"
         "F=6\rG=7",
         {{"A", "1"}, {"C", "3"}, {"D", "4"}, {"E", "5"}, {"F", "6"}, {"G", "7"}}},
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
        {"GROQ_API_KEY\nGROQ_API_KEY=\n  GROQ_API_KEY\t=gsk\n==GROQ_API_KEY=a\nX=1", groq, "X=1"},
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
