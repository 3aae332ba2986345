#include "support/language.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <string>

namespace vurin {
namespace {

using Languages = std::vector<std::string>;

TEST(PrefersEnglish, OnlyAChineseFirstLanguageGivesChinese) {
    EXPECT_FALSE(prefersEnglish({"zh-Hant-TW"}));
    EXPECT_FALSE(prefersEnglish({"ZH_cn", "en"}));
    EXPECT_FALSE(prefersEnglish({"zh"}));
    EXPECT_TRUE(prefersEnglish({"ja-JP", "zh-Hans"}));
    EXPECT_TRUE(prefersEnglish({"en-US", "zh"}));
    EXPECT_TRUE(prefersEnglish({}));
    EXPECT_TRUE(prefersEnglish({"de"}));
}

Languages languagesFrom(const std::map<std::string, std::string>& environment) {
    return preferredLanguagesFrom([&](const char* name) {
        const auto found = environment.find(name);
        return found == environment.end() ? std::string() : found->second;
    });
}

TEST(PreferredLanguages, LanguageListComesBeforeTheLocale) {
    EXPECT_EQ(languagesFrom({{"LANGUAGE", "zh_TW:en::fr"}, {"LANG", "de_DE.UTF-8"}}),
              (Languages{"zh-TW", "en", "fr", "de-DE"}));
}

TEST(PreferredLanguages, FirstSetLocaleVariableWins) {
    EXPECT_EQ(languagesFrom({{"LC_ALL", "zh_CN.UTF-8"}, {"LANG", "en_US.UTF-8"}}),
              Languages{"zh-CN"});
    EXPECT_EQ(languagesFrom({{"LC_ALL", ""}, {"LC_MESSAGES", "ja_JP"}, {"LANG", "zh_CN"}}),
              Languages{"ja-JP"});
    EXPECT_EQ(languagesFrom({{"LANG", "sr_RS@latin"}}), Languages{"sr-RS"});
    EXPECT_EQ(languagesFrom({}), Languages{});
}

TEST(PreferredLanguages, PosixLocalesCountAsEnglish) {
    EXPECT_EQ(languagesFrom({{"LANG", "C"}}), Languages{"en"});
    EXPECT_EQ(languagesFrom({{"LC_ALL", "C.UTF-8"}}), Languages{"en"});
    EXPECT_EQ(languagesFrom({{"LC_MESSAGES", "POSIX"}}), Languages{"en"});
}

// Replaces the locale variables for one test and restores them afterwards.
class SystemLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
            ::unsetenv(name);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        }
        applyUILang("auto");
    }
    static void setLang(const char* value) { ::setenv("LANG", value, 1); }

  private:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(SystemLocale, ExplicitInterfaceLanguageOverridesTheSystem) {
    setLang("en_US.UTF-8");
    applyUILang("zh");
    EXPECT_FALSE(uiIsEnglish());
    EXPECT_EQ(L("设置", "Settings"), "设置");
    setLang("zh_CN.UTF-8");
    applyUILang("en");
    EXPECT_TRUE(uiIsEnglish());
    EXPECT_EQ(L("设置", "Settings"), "Settings");
}

TEST_F(SystemLocale, AutoFollowsTheSystemWhenApplied) {
    setLang("zh_CN.UTF-8");
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
    applyUILang("zh");
    EXPECT_EQ(soundVolumeLabelText(0.0), "静音");
    EXPECT_EQ(soundVolumeLabelText(-0.1), "静音");
    EXPECT_EQ(soundVolumeLabelText(std::nan("")), "静音");
    applyUILang("en");
    EXPECT_EQ(soundVolumeLabelText(0.0), "Muted");
    EXPECT_EQ(soundVolumeLabelText(0.3), "30%");
    EXPECT_EQ(soundVolumeLabelText(0.005), "1%");
    EXPECT_EQ(soundVolumeLabelText(0.004), "0%");
    EXPECT_EQ(soundVolumeLabelText(0.125), "13%");
    EXPECT_EQ(soundVolumeLabelText(1.0), "100%");
}

TEST(SoundVolume, StaysInRange) {
    setSoundVolume(0.8f);
    EXPECT_FLOAT_EQ(soundVolume(), 0.8f);
    setSoundVolume(1.5f);
    EXPECT_FLOAT_EQ(soundVolume(), 1.0f);
    setSoundVolume(-1.0f);
    EXPECT_FLOAT_EQ(soundVolume(), 0.0f);
    setSoundVolume(std::nanf(""));
    EXPECT_FLOAT_EQ(soundVolume(), 0.0f);
    setSoundVolume(0.3f);
}

}  // namespace
}  // namespace vurin
