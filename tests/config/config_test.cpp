#include "config/config.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "config/keychain.h"
#include "support/fake_secret_store.h"
#include "support/testing.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;

// config.json is read back by earlier and later versions: its exact text is the format.
TEST(Config, IsWrittenPrettyInFieldOrderAndReadWithLegacyKeysClampingAndUnlistedValues) {
    EXPECT_EQ(decodeConfig("{}"), Config());
    EXPECT_EQ(encodeConfig(Config()),
              "{\n  \"keyCode\": 105,\n  \"sendOnClick\": true,\n  \"sttProvider\": \"local\",\n  "
              "\"sttLanguage\": \"auto\",\n  \"polishProvider\": \"local\",\n  "
              "\"allowCloudFallback\": false,\n  \"saveTextHistory\": false,\n  "
              "\"sttCloudProvider\": \"groq\",\n  \"polishCloudProvider\": \"groq\",\n  "
              "\"uiLang\": \"auto\",\n  \"soundVolume\": 0.3,\n  \"micDevice\": \"builtin\",\n  "
              "\"phoneTriggerEnabled\": false,\n  \"phoneToken\": \"\",\n  "
              "\"autoCheckUpdates\": true\n}\n");
    EXPECT_EQ(encodeConfig(Config{.phoneToken = "\xc3\x28"}), "");  // not UTF-8
    // Each stored document decodes as the canonical one beside it; every key is read.
    const std::pair<const char*, const char*> cases[] = {
        {R"({"cloudProvider": "openai", "polishCloudProvider": "gemini"})",
         R"({"sttCloudProvider": "openai", "polishCloudProvider": "gemini"})"},
        {R"({"soundVolume": 1.7, "micDevice": "System"})", R"({"soundVolume": 1.0})"},
        {R"({"soundVolume": -0.2})", R"({"soundVolume": 0.0})"},
        {R"({"soundVolume": 1})", R"({"soundVolume": 1.0})"},
        {R"({"keyCode": 9223372036854775807, "unknownKey": [1], "soundVolume": null,
            "cloudProvider": null, "uiLang": null})",
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
    for (const char* json :  // a wrongly typed key or a document that is no object
         {R"({"sendOnClick": "true"})", R"({"keyCode": "F13"})", R"({"keyCode": 96.0})",
          R"({"keyCode": 9223372036854775808})", R"({"soundVolume": "0.5"})",
          R"({"sttProvider": 1})", R"({"phoneToken": {"a": 1}})", R"({"autoCheckUpdates": 1})",
          R"({"micDevice": ["system"]})", R"({"cloudProvider": 5})", "", "[]", "{", "{} {}",
          "{\"phoneToken\": \"\xff\"}"}) {
        EXPECT_EQ(decodeConfig(json), std::nullopt) << json;
    }
    EXPECT_EQ(configDirFrom("/x/conf", "/home/ann"), "/x/conf/vurin");
    EXPECT_EQ(configDirFrom("relative/conf", "/home/ann"), "/home/ann/.config/vurin");
    EXPECT_EQ(configDirFrom("", "/home/ann"), "/home/ann/.config/vurin");
}

// Only reasons reach the log, never a key; a read's reason once until it changes.
TEST(Keychain, KeysAreStoredVerbatimAndWhatFailsIsLoggedWithoutTheValue) {
    auto store = std::make_shared<FakeSecretStore>();
    installSecretStore(store);
    LogCapture log;
    EXPECT_TRUE(Keychain::set("sk-one", "OPENAI_API_KEY"));
    EXPECT_TRUE(Keychain::set(" 密钥-ключ-🔑\t", "OPENAI_API_KEY"));
    EXPECT_FALSE(Keychain::set("", "OPENAI_API_KEY"));  // empty or not UTF-8: never stored
    EXPECT_FALSE(Keychain::set("sk-\xff", "OPENAI_API_KEY"));
    EXPECT_EQ(Keychain::get("OPENAI_API_KEY"), " 密钥-ключ-🔑\t");
    Keychain::deleteItem("OPENAI_API_KEY");
    EXPECT_TRUE(store->items.empty());
    store->items = {{"GROQ_API_KEY", "gsk_old"}};
    for (const auto status : {SecretStatus::locked, SecretStatus::failure}) {
        store->failures = {{"update", status}};
        EXPECT_FALSE(Keychain::set("gsk_secret_value", "GROQ_API_KEY"));
    }
    store->items.clear();
    store->failures = {{"add", SecretStatus::noService}};
    EXPECT_FALSE(Keychain::set("gsk_secret_value", "GROQ_API_KEY"));
    store->failures.clear();
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
    installSecretStore(nullptr);
    EXPECT_FALSE(Keychain::set("gsk_new", "GROQ_API_KEY"));
    EXPECT_EQ(cloudKey("groq"), "");
    Keychain::deleteItem("GROQ_API_KEY");
    const std::string failed = "❌ 保存 GROQ_API_KEY 的 Key 失败:";
    const std::string readFailed = "⚠️ 读取 GROQ_API_KEY 的 Key 失败,按未设置处理:";
    EXPECT_EQ(
        log.lines(),
        (Lines{failed + "钥匙环已锁定 (locked)", failed + "update refused",
               failed + "无法连接 Secret Service (no service): add refused",
               "🔑 Keychain 中没有 GROQ_API_KEY 的 Key (item not found)",
               "⚠️ Keychain 中 GROQ_API_KEY 的 Key 为空,按未设置处理",
               "⚠️ Keychain 中 GROQ_API_KEY 的 Key 不是 UTF-8 文本,按未设置处理",
               readFailed + "无法连接 Secret Service (no service): read refused",
               readFailed + "钥匙环已锁定 (locked)", readFailed + "read refused",
               failed + "没有可用的 Keychain",
               readFailed + "无法连接 Secret Service (no service): 没有可用的 Keychain"}));
}

// Every line break ends a line (CR LF is two); names and values are kept verbatim.
TEST(EnvFile, LinesAreParsedVerbatimAndAnAccountsLinesRemoved) {
    using Env = std::map<std::string, std::string>;
    // clang-format off
    const struct {
        std::string content;
        Env parsed;
        std::string withoutGroq;
    } cases[] = {
        {"GROQ_API_KEY=1\nGROQ_API_KEY=2\n GROQ_API_KEY\t=a \n"
         "\"Q\"='v'\n# C=c\nexport GROQ_API_KEY=e",
         {{"GROQ_API_KEY", "2"}, {" GROQ_API_KEY\t", "a "}, {"\"Q\"", "'v'"}, {"# C", "c"},
          {"export GROQ_API_KEY", "e"}}, "\"Q\"='v'\n# C=c\nexport GROQ_API_KEY=e"},
        {"==A=b=c\nB==b\nC=\nGROQ_API_KEY\n=\n===\n=E", {{"A", "b=c"}, {"B", "=b"}},
         "==A=b=c\nB==b\nC=\n=\n===\n=E"},
        {"A=1\r\nGROQ_API_KEY=gsk\r\nB=2\r\n", {{"A", "1"}, {"GROQ_API_KEY", "gsk"}, {"B", "2"}},
         "A=1\n\n\nB=2\n\n"},
        {"A=1\v2\fC=3\xC2\x85" "D=4\xE2\x80\xA8GROQ_API_KEY=5\xE2\x80\xA9" "F=6\rG=7",
         {{"A", "1"}, {"C", "3"}, {"D", "4"}, {"GROQ_API_KEY", "5"}, {"F", "6"}, {"G", "7"}},
         "A=1\n2\nC=3\nD=4\nF=6\nG=7"},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(parseEnv(c.content), c.parsed) << c.content;
        EXPECT_EQ(envContentRemovingAccounts(c.content, {"GROQ_API_KEY"}), c.withoutGroq);
    }
    EXPECT_EQ(envContentRemovingAccounts("GROQ_API_KEY=a\n=\n", {}), "GROQ_API_KEY=a\n=\n");
}

}  // namespace
}  // namespace vurin::testing
