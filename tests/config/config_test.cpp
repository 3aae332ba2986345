#include "config/config.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace vurin {
namespace {

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

// Each stored document decodes as the canonical one beside it.
TEST(ConfigDecoding, LegacyKeysNullsClampingAndUnlistedValues) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"keyCode": null, "sendOnClick": null, "soundVolume": null, "cloudProvider": null,
            "sttProvider": null})",
         "{}"},
        {R"({"cloudProvider": "openai"})",
         R"({"sttCloudProvider": "openai", "polishCloudProvider": "openai"})"},
        {R"({"cloudProvider": "openai", "polishCloudProvider": "gemini", "sttCloudProvider": null})",
         R"({"sttCloudProvider": "openai", "polishCloudProvider": "gemini"})"},
        {R"({"soundVolume": 1.7})", R"({"soundVolume": 1.0})"},
        {R"({"soundVolume": -0.2})", R"({"soundVolume": 0.0})"},
        {R"({"soundVolume": 1})", R"({"soundVolume": 1.0})"},
        {R"({"micDevice": "System"})", "{}"},
        {R"({"micDevice": "system "})", "{}"},
        {R"({"micDevice": "usb"})", "{}"},
        {R"({"keyCode": 9223372036854775807, "unknownKey": [1, 2]})",
         R"({"keyCode": 9223372036854775807})"},
    };
    for (const auto& [stored, canonical] : cases) {
        EXPECT_EQ(decodeConfig(stored), decodeConfig(canonical)) << stored;
    }
    // Every key is read, values outside the lists as they are.
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
    const char* const documents[] = {
        R"({"sendOnClick": "true"})",
        R"({"keyCode": "F13"})",
        R"({"keyCode": 96.0})",
        R"({"keyCode": 9.5})",
        R"({"keyCode": true})",
        R"({"keyCode": 9223372036854775808})",
        R"({"soundVolume": "0.5"})",
        R"({"soundVolume": false})",
        R"({"sttProvider": 1})",
        R"({"phoneToken": {"a": 1}})",
        R"({"autoCheckUpdates": 1})",
        R"({"micDevice": ["system"]})",
        R"({"cloudProvider": 5})",
        R"({"keyCode": 96, "sendOnClick": "yes"})",
        "",
        "   ",
        "null",
        "[]",
        "\"config\"",
        "42",
        "{",
        "{\"keyCode\": 96,}",
        "{} {}",
        "{\"phoneToken\": \"\xff\"}",
    };
    for (const char* json : documents) {
        EXPECT_EQ(decodeConfig(json), std::nullopt) << json;
    }
}

TEST(ConfigPaths, AnAbsoluteXdgConfigHomeElseTheHomeFolder) {
    EXPECT_EQ(configDirFrom("/x/conf", "/home/ann"), "/x/conf/vurin");
    EXPECT_EQ(configDirFrom("relative/conf", "/home/ann"), "/home/ann/.config/vurin");
    EXPECT_EQ(configDirFrom("", "/home/ann"), "/home/ann/.config/vurin");
    EXPECT_EQ(configURL(), configDir() / "config.json");
    EXPECT_EQ(historyURL(), configDir() / "history.jsonl");
    EXPECT_EQ(envFileURL(), configDir() / "env");
}

}  // namespace
}  // namespace vurin
