#include "support/language.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

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

class SystemLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            environment_.unset(name);
        }
    }
    void TearDown() override { applyUILang("auto"); }
    void setLang(const char* value) { environment_.set("LANG", value); }

    testing::ScopedEnvironment environment_;
};

TEST_F(SystemLocale, ExplicitLanguageOverridesTheSystemAndAutoFollowsItWhenApplied) {
    setLang("en_US.UTF-8");
    applyUILang("zh");
    EXPECT_FALSE(uiIsEnglish());
    EXPECT_EQ(L("设置", "Settings"), "设置");
    setLang("zh_CN.UTF-8");
    applyUILang("en");
    EXPECT_EQ(L("设置", "Settings"), "Settings");

    EXPECT_FALSE(systemPrefersEnglish());
    applyUILang("auto");
    EXPECT_FALSE(uiIsEnglish());
    setLang("en_GB.UTF-8");
    EXPECT_FALSE(uiIsEnglish()) << "the switch changes only when applied";
    applyUILang("auto");
    EXPECT_TRUE(uiIsEnglish());
    setLang("zh_TW.UTF-8");
    applyUILang("klingon");
    EXPECT_FALSE(uiIsEnglish());
}

TEST_F(SystemLocale, VolumeLabelIsMutedOrARoundedPercentage) {
    struct Case {
        const char* lang;
        double volume;
        const char* label;
    };
    const Case cases[] = {{"zh", 0.0, "静音"},  {"zh", -0.1, "静音"}, {"zh", std::nan(""), "静音"},
                          {"en", 0.0, "Muted"}, {"en", 0.3, "30%"},   {"en", 0.005, "1%"},
                          {"en", 0.004, "0%"},  {"en", 0.125, "13%"}, {"en", 1.0, "100%"}};
    for (const auto& c : cases) {
        applyUILang(c.lang);
        EXPECT_EQ(soundVolumeLabelText(c.volume), c.label) << c.lang << " " << c.volume;
    }
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
