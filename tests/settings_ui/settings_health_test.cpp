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
    EXPECT_EQ(window()->shownText(kSettingsHealthLabelId),
              "权限已就绪 · 识别: 本地(就绪)   ·   润色: 本地qwen(就绪)");
    EXPECT_EQ(healthDot(), ColourRole::green);
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
    EXPECT_EQ(window()->shownText(kSettingsHealthLabelId).substr(0, 12), "缺少权限");
    EXPECT_EQ(healthDot(), ColourRole::orange);
    EXPECT_EQ(window()->model.tabs->selected, static_cast<int>(SettingsTab::permissions));
    applyUILang("en");
    EXPECT_EQ(settingsController->settingsHealthSummaryText().substr(0, 23),
              "Permissions missing · ");
}

TEST_F(HealthLine, ControllerRefreshesReachTheOpenWindowOnly) {
    controller->config().sttProvider = "cloud";
    launch();
    controller->refreshSettingsHealthSummary();  // closed: nothing to refresh
    settingsController->showSettings();
    EXPECT_EQ(healthDot(), ColourRole::orange);
    keychain->put("GROQ_API_KEY", "g");
    controller->refreshSettingsHealthSummary();
    EXPECT_EQ(healthDot(), ColourRole::green);
    EXPECT_EQ(window()->shownText(kSettingsHealthLabelId),
              "权限已就绪 · 识别: Groq   ·   润色: 本地qwen(未就绪)");
    auto view = windows->last();
    view->userCloses();
    EXPECT_FALSE(settingsController->isSettingsOpen());
    EXPECT_TRUE(view->closed);
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
}

}  // namespace
}  // namespace vurin::testing
