#include <gtest/gtest.h>

#include "config/config.h"
#include "support/app_controller_fixture.h"
#include "support/language.h"

namespace vurin::testing {
namespace {

using Startup = AppControllerFixture;
using Alerts = AppControllerFixture;

const char* const kReadyLine =
    "👂 Vurin 就绪(F13,键码 105)。长按=说话 单击=发送 双击=取消。菜单栏图标可查看状态";

TEST_F(Startup, RunsTheSequenceAndLogsTheReadyLinesOnce) {
    launch();
    ASSERT_GE(startupTrace.size(), 3U);
    EXPECT_EQ(startupTrace[0], "cleanup");
    EXPECT_EQ(startupTrace[1], "migrate");
    EXPECT_EQ(startupTrace[2], "updates");
    EXPECT_EQ(recorder->warmUps, std::vector<bool>{true});
    EXPECT_EQ(permissions->checks, 1);
    EXPECT_EQ(phone->calls, std::vector<std::string>{"startIfEnabled"});
    EXPECT_EQ(shell->statusItem->title, "🎙️");
    EXPECT_EQ(shell->statusItem->toolTip, "Vurin — 就绪");
    EXPECT_EQ(trigger->setups, 1);
    EXPECT_TRUE(controller->didFinishInputSetup());
    EXPECT_EQ(countLog(kReadyLine), 1);
    EXPECT_EQ(
        countLog("   单击发送:开  识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)  语言:自动"), 1);
    EXPECT_EQ(countLog("   历史指标:" + historyURL().string() + "  全文:不保存"), 1);

    EXPECT_TRUE(controller->finishInputSetup());
    EXPECT_EQ(countLog(kReadyLine), 1);
    queue->advance(1.0);
    EXPECT_EQ(permissions->onboardingShown, 0);
}

TEST_F(Startup, ReadyLinesShowTheSettingsAsStored) {
    controller->config().sendOnClick = false;
    controller->config().sttLanguage = "ja";
    controller->config().saveTextHistory = true;
    whisper->ready = true;
    launch();
    EXPECT_TRUE(logged("   单击发送:关  识别: 本地(就绪)   ·   润色: 本地qwen(未就绪)  语言:ja"));
    EXPECT_TRUE(logged("   历史指标:" + historyURL().string() + "  全文:保存"));
}

TEST_F(Startup, MissingPermissionOpensOnboardingHalfASecondLater) {
    permissions->granted = false;
    launch();
    EXPECT_EQ(trigger->setups, 0);
    queue->advance(0.49);
    EXPECT_EQ(permissions->onboardingShown, 0);
    queue->advance(0.01);
    EXPECT_EQ(permissions->onboardingShown, 1);
    EXPECT_FALSE(controller->didFinishInputSetup());
}

TEST_F(Startup, TapFailureLogsAndOpensOnboardingThenARetrySucceeds) {
    trigger->succeeds = false;
    launch();
    EXPECT_TRUE(logged("❌ 创建 Event Tap 失败。触发键可能已被其他程序占用,或无法连接 X11 显示"));
    EXPECT_FALSE(logged(kReadyLine));
    queue->advance(0.5);
    EXPECT_EQ(permissions->onboardingShown, 1);

    trigger->succeeds = true;
    EXPECT_TRUE(controller->finishInputSetup());
    EXPECT_EQ(countLog(kReadyLine), 1);
}

TEST_F(Startup, OnboardingIsNotShownWhenTheControllerIsGone) {
    permissions->granted = false;
    launch();
    controller.reset();
    queue->advance(1.0);
    EXPECT_EQ(permissions->onboardingShown, 0);
}

TEST_F(Startup, LocalServicesStartOnlyWhenSelectedAndInstalled) {
    launch();
    EXPECT_EQ(whisper->maintained.size(), 1U);
    EXPECT_EQ(ollama->maintained.size(), 1U);

    queue->advance(10.0);
    EXPECT_EQ(whisper->maintained.size(), 2U);
    EXPECT_EQ(ollama->maintained.size(), 2U);

    whisperModelFound = false;
    controller->config().polishProvider = "cloud";
    queue->advance(10.0);
    EXPECT_EQ(whisper->maintained.size(), 2U);
    EXPECT_EQ(ollama->maintained.size(), 2U);

    whisperModelFound = true;
    ollamaBinaryFound = false;
    controller->config().polishProvider = "local";
    queue->advance(10.0);
    EXPECT_EQ(whisper->maintained.size(), 3U);
    EXPECT_EQ(ollama->maintained.size(), 2U);
}

TEST_F(Startup, ServiceReadyRebuildsTheMenuAndRefreshesSettings) {
    launch();
    const int builds = shell->statusItem->menuBuilds;
    whisper->ready = true;
    whisper->maintained.at(0)();
    EXPECT_EQ(shell->statusItem->menuBuilds, builds + 1);
    EXPECT_EQ(settings->calls, std::vector<std::string>{"refresh"});
    EXPECT_EQ(shell->statusItem->menu.items.at(1).title,
              "  识别: 本地(就绪)   ·   润色: 本地qwen(未就绪)");
}

TEST_F(Startup, TerminationStopsTheTimerAndEverythingInOrder) {
    launch();
    controller->applicationWillTerminate();
    EXPECT_EQ(whisper->stops, 1);
    EXPECT_EQ(ollama->stops, 1);
    EXPECT_EQ(phone->calls, (std::vector<std::string>{"startIfEnabled", "forceRelease", "stop"}));
    queue->advance(30.0);
    EXPECT_EQ(whisper->maintained.size(), 1U);
}

TEST_F(Startup, MenusCarryTheExactTextsAndQuitWorks) {
    launch();
    ASSERT_EQ(shell->mainMenu.size(), 2U);
    EXPECT_EQ(shell->mainMenu[0].items.at(0).title, "退出 Vurin");
    EXPECT_EQ(shell->mainMenu[0].items.at(0).keyEquivalent, "q");
    const auto& edit = shell->mainMenu[1];
    EXPECT_EQ(edit.title, "编辑");
    std::vector<std::string> titles;
    for (const auto& item : edit.items) {
        titles.push_back(item.kind == MenuItem::Kind::separator ? "-" : item.title);
    }
    EXPECT_EQ(titles,
              (std::vector<std::string>{"撤销", "重做", "-", "剪切", "复制", "粘贴", "全选"}));
    EXPECT_TRUE(edit.items[1].shiftModifier);
    EXPECT_EQ(edit.items[1].keyEquivalent, "z");

    const auto& status = shell->statusItem->menu.items;
    EXPECT_EQ(status.at(0).title, "状态:就绪(F13)");
    EXPECT_FALSE(status.at(0).enabled);
    const auto& quitItem = status.back();
    EXPECT_EQ(quitItem.title, "退出 Vurin");
    quitItem.action();
    EXPECT_EQ(shell->terminations, 1);
}

TEST_F(Startup, EnglishInterfaceChangesMenusAndToolTip) {
    controller->config().uiLang = "en";
    launch();
    EXPECT_EQ(shell->statusItem->toolTip, "Vurin — Ready");
    EXPECT_EQ(shell->statusItem->menu.items.at(0).title, "Status: Ready (F13)");
    EXPECT_EQ(shell->mainMenu[1].title, "Edit");
    controller->setAppState(AppState::pendingSend);
    EXPECT_EQ(shell->statusItem->title, "✅");
    EXPECT_EQ(shell->statusItem->toolTip, "Vurin — Ready to send (click to send)");
    applyUILang("zh");
}

TEST_F(Alerts, EachAlertIsShownOncePerProcess) {
    launch();
    controller->warnNotConfigured();
    controller->warnNotConfigured();
    controller->config().sttProvider = "cloud";
    controller->warnNotConfigured();
    controller->warnLocalUnavailable();
    controller->warnLocalUnavailable();
    ASSERT_EQ(shell->alerts.size(), 2U);
    EXPECT_EQ(shell->alerts[0].messageText, "Vurin 还没配置好");
    EXPECT_EQ(shell->alerts[0].buttons, (std::vector<std::string>{"打开语音识别设置", "以后再说"}));
    EXPECT_EQ(shell->alerts[1].messageText, "本地语音识别还没就绪");
    EXPECT_EQ(shell->alerts[1].buttons, (std::vector<std::string>{"打开设置", "以后再说"}));
}

TEST_F(Alerts, FirstButtonOpensTheSpeechSettingsAndStaysRegular) {
    launch();
    shell->alertResponse = kAlertFirstButtonReturn;
    controller->warnLocalUnavailable();
    EXPECT_EQ(settings->calls, (std::vector<std::string>{"show", "tab 1"}));
    EXPECT_EQ(shell->policies, std::vector<ActivationPolicy>{ActivationPolicy::regular});
    EXPECT_EQ(shell->activations, 1);
}

TEST_F(Alerts, SecondButtonReturnsToAccessoryMode) {
    launch();
    controller->warnNotConfigured();
    EXPECT_TRUE(settings->calls.empty());
    EXPECT_EQ(shell->policies, (std::vector<ActivationPolicy>{ActivationPolicy::regular,
                                                              ActivationPolicy::accessory}));
}

TEST_F(Alerts, EnglishTextsFollowTheInterfaceLanguage) {
    applyUILang("en");
    controller->warnNotConfigured();
    ASSERT_EQ(shell->alerts.size(), 1U);
    EXPECT_EQ(shell->alerts[0].messageText, "Vurin isn't set up yet");
    EXPECT_EQ(shell->alerts[0].buttons,
              (std::vector<std::string>{"Open Speech Settings", "Later"}));
    EXPECT_NE(shell->alerts[0].informativeText.find("\nFirst, choose one in Speech"),
              std::string::npos);
    applyUILang("zh");
}

}  // namespace
}  // namespace vurin::testing
