#include "support/language.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "support/testing.h"

namespace vurin {
namespace {

using Languages = std::vector<std::string>;

TEST(LanguageTest, OnlyAChineseFirstLanguageGivesChinese) {
    for (const Languages& chinese : {Languages{"zh-Hant-TW"}, {"ZH_cn", "en"}, {"zh"}}) {
        EXPECT_FALSE(prefersEnglish(chinese)) << chinese[0];
    }
    for (const Languages& english : {Languages{"ja-JP", "zh-Hans"}, {"en-US", "zh"}, {}, {"de"}}) {
        EXPECT_TRUE(prefersEnglish(english));
    }
}

TEST(LanguageTest, PreferredLanguagesFromTheEnvironment) {
    struct Case {
        std::map<std::string, std::string> environment;
        Languages expected;
    };
    // clang-format off
    const Case cases[] = {
        {{{"LANGUAGE", "zh_TW:en::fr"}, {"LANG", "de_DE.UTF-8"}}, {"zh-TW", "en", "fr", "de-DE"}},
        {{{"LC_ALL", "zh_CN.UTF-8"}, {"LANG", "en_US.UTF-8"}}, {"zh-CN"}},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "ja_JP"}, {"LANG", "zh_CN"}}, {"ja-JP"}},
        {{{"LANG", "sr_RS@latin"}}, {"sr-RS"}},
        {{}, {}},
        // POSIX locales count as English.
        {{{"LANG", "C"}}, {"en"}}, {{{"LC_ALL", "C.UTF-8"}}, {"en"}}, {{{"LC_MESSAGES", "POSIX"}}, {"en"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const auto languages = preferredLanguagesFrom([&](const char* name) {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? std::string() : found->second;
        });
        EXPECT_EQ(languages, c.expected) << ::testing::PrintToString(c.environment);
    }
}

TEST(LanguageTest, AutoFollowsTheSystemWhenAppliedAndAnExplicitChoiceOverridesIt) {
    testing::ScopedEnvironment environment;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
        environment.unset(name);
    }
    struct Step {
        const char* lang;
        const char* apply;  // nothing: the switch changes only when applied
        bool english;
    };
    const Step steps[] = {{"en_US.UTF-8", "zh", false},   {"zh_CN.UTF-8", "en", true},
                          {"zh_CN.UTF-8", "auto", false}, {"en_GB.UTF-8", nullptr, false},
                          {"en_GB.UTF-8", "auto", true},  {"zh_TW.UTF-8", "klingon", false}};
    for (const auto& step : steps) {
        environment.set("LANG", step.lang);
        if (step.apply != nullptr) {
            applyUILang(step.apply);
        }
        EXPECT_EQ(systemPrefersEnglish(), step.lang[0] == 'e') << step.lang;
        EXPECT_EQ(L("设置", "Settings"), step.english ? "Settings" : "设置") << step.lang;
    }
    // The volume label: muted at zero or below, else the rounded percentage.
    const std::pair<double, const char*> labels[] = {
        {0.0, "静音"}, {-0.1, "静音"}, {std::nan(""), "静音"}};
    for (const auto& [volume, label] : labels) {
        EXPECT_EQ(soundVolumeLabelText(volume), label) << volume;
    }
    applyUILang("en");
    const std::pair<double, const char*> english[] = {
        {0.0, "Muted"}, {0.3, "30%"}, {0.005, "1%"}, {0.004, "0%"}, {0.125, "13%"}, {1.0, "100%"}};
    for (const auto& [volume, label] : english) {
        EXPECT_EQ(soundVolumeLabelText(volume), label) << volume;
    }
    applyUILang("auto");
}

TEST(LanguageTest, SoundVolumeStaysInRange) {
    const std::pair<float, float> cases[] = {
        {0.8f, 0.8f}, {1.5f, 1.0f}, {-1.0f, 0.0f}, {std::nanf(""), 0.0f}};
    for (const auto& [set, read] : cases) {
        setSoundVolume(set);
        EXPECT_FLOAT_EQ(soundVolume(), read) << set;
    }
    setSoundVolume(0.3f);
}

}  // namespace
}  // namespace vurin
