#include "config/config.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vurin {
namespace {

Config decoded(const std::string& json) {
    auto config = decodeConfig(json);
    EXPECT_TRUE(config.has_value()) << json;
    return config.value_or(Config());
}

TEST(ConfigDecoding, EmptyObjectGivesEveryDefault) {
    const Config config = decoded("{}");
    EXPECT_EQ(config, Config());
    EXPECT_EQ(config.keyCode, 105);
    EXPECT_TRUE(config.sendOnClick);
    EXPECT_EQ(config.sttProvider, "local");
    EXPECT_EQ(config.sttLanguage, "auto");
    EXPECT_EQ(config.polishProvider, "local");
    EXPECT_FALSE(config.allowCloudFallback);
    EXPECT_FALSE(config.saveTextHistory);
    EXPECT_EQ(config.sttCloudProvider, "groq");
    EXPECT_EQ(config.polishCloudProvider, "groq");
    EXPECT_EQ(config.uiLang, "auto");
    EXPECT_DOUBLE_EQ(config.soundVolume, 0.3);
    EXPECT_EQ(config.micDevice, "builtin");
    EXPECT_FALSE(config.phoneTriggerEnabled);
    EXPECT_EQ(config.phoneToken, "");
    EXPECT_TRUE(config.autoCheckUpdates);
}

TEST(ConfigDecoding, OnlyKeyCodeKeepsTheOtherDefaults) {
    Config expected;
    expected.keyCode = 96;
    EXPECT_EQ(decoded(R"({"keyCode": 96})"), expected);
}

TEST(ConfigDecoding, LegacyCloudProviderFillsMissingStageProviders) {
    const Config onlyLegacy = decoded(R"({"cloudProvider": "openai"})");
    EXPECT_EQ(onlyLegacy.sttCloudProvider, "openai");
    EXPECT_EQ(onlyLegacy.polishCloudProvider, "openai");

    const Config mixed = decoded(R"({"cloudProvider": "openai", "polishCloudProvider": "gemini"})");
    EXPECT_EQ(mixed.sttCloudProvider, "openai");
    EXPECT_EQ(mixed.polishCloudProvider, "gemini");

    const Config nullStage = decoded(R"({"cloudProvider": "openai", "sttCloudProvider": null})");
    EXPECT_EQ(nullStage.sttCloudProvider, "openai");

    const Config nullLegacy = decoded(R"({"cloudProvider": null})");
    EXPECT_EQ(nullLegacy.sttCloudProvider, "groq");
    EXPECT_EQ(nullLegacy.polishCloudProvider, "groq");
}

TEST(ConfigDecoding, SoundVolumeIsClampedAndMayBeAnInteger) {
    EXPECT_DOUBLE_EQ(decoded(R"({"soundVolume": 1.7})").soundVolume, 1.0);
    EXPECT_DOUBLE_EQ(decoded(R"({"soundVolume": -0.2})").soundVolume, 0.0);
    EXPECT_DOUBLE_EQ(decoded(R"({"soundVolume": 1})").soundVolume, 1.0);
    EXPECT_DOUBLE_EQ(decoded(R"({"soundVolume": 0})").soundVolume, 0.0);
    EXPECT_DOUBLE_EQ(decoded(R"({"soundVolume": 0.55})").soundVolume, 0.55);
}

TEST(ConfigDecoding, MicDeviceIsSystemOnlyWhenExactlySystem) {
    EXPECT_EQ(decoded(R"({"micDevice": "system"})").micDevice, "system");
    for (const char* other : {"", "System", "system ", "builtin", "usb"}) {
        const std::string json = std::string(R"({"micDevice": ")") + other + "\"}";
        EXPECT_EQ(decoded(json).micDevice, "builtin") << json;
    }
    EXPECT_EQ(decoded(R"({"micDevice": null})").micDevice, "builtin");
}

TEST(ConfigDecoding, NullKeepsTheDefault) {
    EXPECT_EQ(decoded(R"({"sttProvider": null})").sttProvider, "local");
    EXPECT_EQ(decoded(R"({"keyCode": null, "sendOnClick": null, "soundVolume": null})"), Config());
}

TEST(ConfigDecoding, ValuesOutsideTheListsAreStoredAsRead) {
    const Config config = decoded(
        R"({"sttProvider": "remote", "sttLanguage": "fr", "sttCloudProvider": "azure",
            "uiLang": "de", "keyCode": -3, "unknownKey": [1, 2]})");
    EXPECT_EQ(config.sttProvider, "remote");
    EXPECT_EQ(config.sttLanguage, "fr");
    EXPECT_EQ(config.sttCloudProvider, "azure");
    EXPECT_EQ(config.uiLang, "de");
    EXPECT_EQ(config.keyCode, -3);
}

TEST(ConfigDecoding, AnyWronglyTypedKeyFailsTheWholeDocument) {
    const std::vector<std::string> documents = {
        R"({"sendOnClick": "true"})", R"({"keyCode": "F13"})",
        R"({"keyCode": 96.0})",       R"({"keyCode": 9.5})",
        R"({"keyCode": true})",       R"({"keyCode": 9223372036854775808})",
        R"({"soundVolume": "0.5"})",  R"({"soundVolume": false})",
        R"({"sttProvider": 1})",      R"({"phoneToken": {"a": 1}})",
        R"({"autoCheckUpdates": 1})", R"({"micDevice": ["system"]})",
        R"({"cloudProvider": 5})",    R"({"keyCode": 96, "sendOnClick": "yes"})",
    };
    for (const auto& json : documents) {
        EXPECT_FALSE(decodeConfig(json).has_value()) << json;
    }
}

TEST(ConfigDecoding, KeyCodeAcceptsTheWholeSignedRange) {
    EXPECT_EQ(decoded(R"({"keyCode": 9223372036854775807})").keyCode, INT64_MAX);
    EXPECT_EQ(decoded(R"({"keyCode": -9223372036854775808})").keyCode, INT64_MIN);
}

TEST(ConfigDecoding, DocumentsThatAreNotObjectsGiveNoResult) {
    for (const char* json : {"", "   ", "null", "[]", "\"config\"", "42", "{", "{\"keyCode\": 96,}",
                             "{} {}", "{\"phoneToken\": \"\xff\"}"}) {
        EXPECT_FALSE(decodeConfig(json).has_value()) << json;
    }
}

TEST(ConfigEncoding, WritesTheFifteenKeysInFieldOrderWithoutTheLegacyKey) {
    const auto document =
        nlohmann::ordered_json::parse(encodeConfig(decoded(R"({"cloudProvider": "openai"})")));
    std::vector<std::string> keys;
    for (const auto& item : document.items()) {
        keys.push_back(item.key());
    }
    const std::vector<std::string> expected = {"keyCode",
                                               "sendOnClick",
                                               "sttProvider",
                                               "sttLanguage",
                                               "polishProvider",
                                               "allowCloudFallback",
                                               "saveTextHistory",
                                               "sttCloudProvider",
                                               "polishCloudProvider",
                                               "uiLang",
                                               "soundVolume",
                                               "micDevice",
                                               "phoneTriggerEnabled",
                                               "phoneToken",
                                               "autoCheckUpdates"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(document["sttCloudProvider"], "openai");
    EXPECT_EQ(document["polishCloudProvider"], "openai");
    EXPECT_TRUE(document["keyCode"].is_number_integer());
    EXPECT_TRUE(document["soundVolume"].is_number());
    EXPECT_TRUE(document["sendOnClick"].is_boolean());
}

TEST(ConfigEncoding, IsPrettyPrintedAndRoundTrips) {
    Config config;
    config.keyCode = 10058;
    config.sendOnClick = false;
    config.sttProvider = "cloud";
    config.sttLanguage = "zh";
    config.saveTextHistory = true;
    config.polishCloudProvider = "gemini";
    config.uiLang = "en";
    config.soundVolume = 0.75;
    config.micDevice = "system";
    config.phoneTriggerEnabled = true;
    config.phoneToken = "tök-🔑";
    config.autoCheckUpdates = false;
    const std::string text = encodeConfig(config);
    EXPECT_NE(text.find("\n  \"keyCode\": 10058,\n"), std::string::npos) << text;
    EXPECT_EQ(decodeConfig(text), config);
}

TEST(ConfigEncoding, InvalidUtf8GivesAnEmptyResult) {
    Config config;
    config.phoneToken = "\xc3\x28";
    EXPECT_EQ(encodeConfig(config), "");
}

TEST(ConfigPaths, XdgConfigHomeIsUsedOnlyWhenAbsolute) {
    EXPECT_EQ(configDirFrom("/x/conf", "/home/ann"), "/x/conf/vurin");
    EXPECT_EQ(configDirFrom("relative/conf", "/home/ann"), "/home/ann/.config/vurin");
    EXPECT_EQ(configDirFrom("", "/home/ann"), "/home/ann/.config/vurin");
}

TEST(ConfigPaths, FilesLiveInTheConfigDirectory) {
    EXPECT_EQ(configURL(), configDir() / "config.json");
    EXPECT_EQ(historyURL(), configDir() / "history.jsonl");
    EXPECT_EQ(envFileURL(), configDir() / "env");
    // The test environment points XDG_CONFIG_HOME at its own folder.
    EXPECT_EQ(configDir().filename(), "vurin");
    EXPECT_EQ(&configDir(), &configDir());
}

}  // namespace
}  // namespace vurin
