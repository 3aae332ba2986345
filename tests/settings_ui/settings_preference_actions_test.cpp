#include <gtest/gtest.h>

#include <cmath>

#include "config/config.h"
#include "support/language.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

using PreferenceActions = SettingsControllerFixture;

TEST_F(PreferenceActions, SegmentsShowTheStoredValueAndFallBackToTheFirst) {
    EXPECT_EQ(SettingsController::segmentFor(kUILanguageSegments, "en"), 2);
    EXPECT_EQ(SettingsController::segmentFor(kUILanguageSegments, "fr"), 0);
    EXPECT_EQ(SettingsController::segmentFor(kUILanguageSegments, ""), 0);
    EXPECT_EQ(SettingsController::segmentFor(kSpeechLanguageSegments, "zh"), 1);
    EXPECT_EQ(SettingsController::segmentFor(kMicDeviceSegments, "system"), 1);
    EXPECT_EQ(SettingsController::segmentFor(kMicDeviceSegments, "usb"), 0);
}

TEST_F(PreferenceActions, SpeechLanguageStoresTheSegmentValue) {
    launch();
    const auto menus = shell->statusItem->menuBuilds;
    settingsController->langSegChanged(1);
    EXPECT_EQ(loadConfig().sttLanguage, "zh");
    EXPECT_TRUE(logged("识别语言已设为:zh"));
    EXPECT_EQ(shell->statusItem->menuBuilds, menus + 1);
    applyUILang("en");
    settingsController->langSegChanged(2);
    EXPECT_TRUE(logged("Language set to: en"));
    logs.clear();
    settingsController->langSegChanged(3);
    EXPECT_EQ(controller->config().sttLanguage, "en");
    EXPECT_TRUE(logs.empty());
}

TEST_F(PreferenceActions, InterfaceLanguageReopensTheWindowInTheNewLanguage) {
    launch();
    settingsController->showSettings();
    EXPECT_EQ(window()->model.title, "Vurin 设置");
    settingsController->uiLangSegChanged(2);
    EXPECT_EQ(loadConfig().uiLang, "en");
    EXPECT_TRUE(uiIsEnglish());
    EXPECT_EQ(menuTitles().back(), "Quit Vurin");
    ASSERT_TRUE(settingsController->isSettingsOpen());
    ASSERT_EQ(windows->opened.size(), 2U);
    EXPECT_TRUE(windows->opened[0]->closed);
    EXPECT_EQ(window()->model.title, "Vurin Settings");
    EXPECT_EQ(window()->model.tabs->titles,
              (std::vector<std::string>{"General", "Speech", "Polish", "Permissions"}));
    EXPECT_EQ(window()->shownText(kSettingsHealthLabelId).substr(0, 17), "Permissions ready");
    // The window closed (accessory) and opened again (regular).
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::regular);
    EXPECT_EQ(shell->policies.at(shell->policies.size() - 2), ActivationPolicy::accessory);

    settingsController->uiLangSegChanged(1);
    EXPECT_FALSE(uiIsEnglish());
    EXPECT_EQ(menuTitles().back(), "退出 Vurin");
}

TEST_F(PreferenceActions, InterfaceLanguageWithTheWindowClosedDoesNotOpenIt) {
    settingsController->uiLangSegChanged(0);
    EXPECT_EQ(loadConfig().uiLang, "auto");
    EXPECT_FALSE(settingsController->isSettingsOpen());
}

TEST_F(PreferenceActions, MicrophoneSwitchesLogAndWarmUpBothWays) {
    settingsController->micDeviceSegChanged(1);
    EXPECT_EQ(loadConfig().micDevice, "system");
    settingsController->micDeviceSegChanged(0);
    EXPECT_EQ(loadConfig().micDevice, "builtin");
    settingsController->micDeviceSegChanged(7);
    EXPECT_EQ(controller->config().micDevice, "builtin");
    EXPECT_EQ(recorder->warmUps, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(logs, (std::vector<std::string>{"录音改用系统默认输入设备",
                                              "录音改用内置麦克风(不会把蓝牙耳机切到通话模式)",
                                              "录音改用内置麦克风(不会把蓝牙耳机切到通话模式)"}));
    applyUILang("en");
    settingsController->micDeviceSegChanged(1);
    settingsController->micDeviceSegChanged(0);
    EXPECT_TRUE(logged("Recording via system default input device"));
    EXPECT_TRUE(
        logged("Recording via built-in mic (won't switch Bluetooth headphones to call mode)"));
}

TEST_F(PreferenceActions, VolumeIsClampedStoredLabelledAndPreviewed) {
    settingsController->showSettings();
    settingsController->soundVolumeChanged(1.7);
    EXPECT_EQ(loadConfig().soundVolume, 1.0);
    EXPECT_EQ(soundVolume(), 1.0F);
    EXPECT_EQ(window()->shownText(kSettingsVolumeLabelId), "100%");
    queue->runPending();
    EXPECT_EQ(sound->played, std::vector<std::string>{"Glass"});

    settingsController->soundVolumeChanged(-0.2);
    EXPECT_EQ(loadConfig().soundVolume, 0.0);
    EXPECT_EQ(window()->shownText(kSettingsVolumeLabelId), "静音");
    queue->runPending();
    EXPECT_EQ(sound->played.size(), 1U);  // muted: the preview plays nothing

    settingsController->soundVolumeChanged(std::nan(""));
    EXPECT_EQ(controller->config().soundVolume, 0.0);
    setSoundVolume(0.3F);
}

TEST_F(PreferenceActions, EngineSegmentsSwitchAndRebuildTheirOwnPane) {
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(1).at(3), "[cpu] 本地模型");
    settingsController->sttSegChanged(0);
    EXPECT_EQ(controller->config().sttProvider, "cloud");
    EXPECT_EQ(paneOutline(1).at(3), "[cloud] 云端模型");
    settingsController->polishSegChanged(1);  // already local: the pane is rebuilt anyway
    EXPECT_EQ(controller->config().polishProvider, "local");
    EXPECT_EQ(window()->paneReplacements, 2);
}

TEST_F(PreferenceActions, FallbackSwitchRebuildsSpeechAndPolishPanes) {
    settingsController->showSettings();
    const auto cardTitles = [](const Pane& pane) {
        std::vector<std::string> titles;
        for (const auto& card : pane.cards) {
            titles.push_back(card.title);
        }
        return titles;
    };
    EXPECT_EQ(cardTitles(window()->model.panes[1]),
              (std::vector<std::string>{"语音识别", "本地模型", "全局回退"}));
    settingsController->cloudFallbackSwitchChanged();
    EXPECT_TRUE(controller->config().allowCloudFallback);
    EXPECT_TRUE(loadConfig().allowCloudFallback);
    EXPECT_EQ(window()->paneReplacements, 2);
    EXPECT_EQ(cardTitles(window()->model.panes[1]),
              (std::vector<std::string>{"语音识别", "本地模型", "全局回退", "回退云端模型"}));
    EXPECT_EQ(cardTitles(window()->model.panes[2]),
              (std::vector<std::string>{"文本润色", "本地模型", "全局回退", "回退云端模型"}));
}

}  // namespace
}  // namespace vurin::testing
