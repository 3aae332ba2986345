#include <gtest/gtest.h>

#include "support/language.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

using HealthLine = SettingsControllerFixture;

TEST_F(HealthLine, ReadyPermissionsAndLocalServicesMakeAGreenDot) {
    whisper->ready = true;
    ollama->ready = true;
    settingsController->showSettings();
    const auto& window = *settingsController->window();
    EXPECT_EQ(window.healthText, "权限已就绪 · 识别: 本地(就绪)   ·   润色: 本地qwen(就绪)");
    EXPECT_EQ(window.healthDot, HealthDotColour::green);
    applyUILang("en");
    EXPECT_EQ(settingsController->settingsHealthSummaryText(),
              "Permissions ready · STT: Local ready   ·   Polish: Local qwen ready");
}

TEST_F(HealthLine, MissingKeyIsNamedAndTurnsTheDotOrange) {
    controller->config().sttProvider = "cloud";
    controller->config().polishCloudProvider = "openai";
    controller->config().polishProvider = "cloud";
    EXPECT_EQ(settingsController->settingsHealthSummaryText(),
              "权限已就绪 · 识别: Groq(缺 Key)   ·   润色: OpenAI(缺 Key) · 缺 Key:Groq / OpenAI");
    EXPECT_EQ(settingsController->healthDotColour(), HealthDotColour::orange);
    applyUILang("en");
    EXPECT_EQ(settingsController->settingsHealthSummaryText(),
              "Permissions ready · STT: Groq (missing key)   ·   Polish: OpenAI (missing key) · "
              "Missing key: Groq / OpenAI");
    keychain->put("GROQ_API_KEY", "g");
    keychain->put("OPENAI_API_KEY", "o");
    EXPECT_EQ(settingsController->healthDotColour(), HealthDotColour::green);
}

TEST_F(HealthLine, MissingPermissionTurnsTheDotOrangeAndOpensOnPermissions) {
    permissions->granted = false;
    whisper->ready = true;
    ollama->ready = true;
    settingsController->showSettings();
    const auto& window = *settingsController->window();
    EXPECT_EQ(window.healthText.substr(0, 12), "缺少权限");
    EXPECT_EQ(window.healthDot, HealthDotColour::orange);
    EXPECT_EQ(window.selectedTab, static_cast<int>(SettingsTab::permissions));
    applyUILang("en");
    EXPECT_EQ(settingsController->settingsHealthSummaryText().substr(0, 23),
              "Permissions missing · ");
}

TEST_F(HealthLine, ControllerRefreshesReachTheOpenWindowOnly) {
    controller->config().sttProvider = "cloud";
    launch();
    controller->refreshSettingsHealthSummary();  // closed: nothing to refresh
    settingsController->showSettings();
    EXPECT_EQ(settingsController->window()->healthDot, HealthDotColour::orange);
    keychain->put("GROQ_API_KEY", "g");
    controller->refreshSettingsHealthSummary();
    EXPECT_EQ(settingsController->window()->healthDot, HealthDotColour::green);
    EXPECT_EQ(settingsController->window()->healthText,
              "权限已就绪 · 识别: Groq   ·   润色: 本地qwen(未就绪)");
    settingsController->closeSettings();
    EXPECT_FALSE(settingsController->window());
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
}

}  // namespace
}  // namespace vurin::testing
