#include <gtest/gtest.h>

#include "support/app_controller_fixture.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;
using Controller = AppControllerFixture;

TEST_F(Controller, LaunchLogsTheSettingsAsStoredOnceAndTerminateStopsTheServices) {
    controller->config() =
        Config{.sendOnClick = false, .sttLanguage = "ja", .saveTextHistory = true, .uiLang = "zh"};
    whisper->ready = true;
    launch();
    EXPECT_EQ(logs, (Lines{"👂 Vurin 就绪(Key 105,键码 105)。长按=说话 单击=发送 双击=取消。"
                           "托盘图标可查看状态",
                           "   单击发送:关  识别: 本地(就绪)   ·   润色: 本地qwen(未就绪)  语言:ja",
                           "   历史指标:" + historyURL().string() + "  全文:保存"}));
    EXPECT_TRUE(controller->finishInputSetup());
    EXPECT_EQ(logs.size(), 3U);
    whisperBinaryFound = ollamaModelFound = false;  // every ten seconds, what is installed
    queue->advance(10.0);
    whisperBinaryFound = ollamaModelFound = true;
    queue->advance(10.0);
    EXPECT_EQ(whisper->maintained.size() + ollama->maintained.size(), 4U);
    controller->applicationWillTerminate();
    EXPECT_EQ(whisper->stops + ollama->stops, 2);
    EXPECT_EQ(phone->calls, (Lines{"startIfEnabled", "forceRelease", "stop"}));
    queue->advance(30.0);
    EXPECT_EQ(whisper->maintained.size() + permissions->onboardingShown, 2U);  // no more
    EXPECT_TRUE(settings->calls.empty());
    shell->statusItem->shown = false;  // no tray host: the settings window is the way in
    controller->applicationDidFinishLaunching();
    EXPECT_EQ(logs.at(3) + settings->calls.at(0),
              "⚠️ "
              "桌面没有系统托盘:状态和菜单在设置窗口的顶部,已打开设置窗口show "
              "unasked");
}

TEST_F(Controller, OnboardingOpensHalfASecondAfterAMissingGrantOrAFailedTap) {
    permissions->granted = false;
    launch();
    queue->advance(0.49);
    EXPECT_EQ(permissions->onboardingShown + trigger->setups, 0);
    queue->advance(0.01);
    permissions->granted = true;
    trigger->succeeds = false;
    controller->applicationDidFinishLaunching();
    EXPECT_EQ(logs, Lines{"❌ 触发键捕获启动失败。触发键可能已被其他程序占用,或无法连接 X11 显示"});
    controller.reset();  // gone before the half second has passed
    queue->advance(1.0);
    EXPECT_EQ(permissions->onboardingShown, 1);
}

TEST_F(Controller, MenusAndTheirActions) {
    controller->config().phoneTriggerEnabled = true;
    launch();
    EXPECT_EQ(menuTitles(),
              (Lines{"状态:就绪(Key 105)", "  识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)", "-",
                     "语音识别 → 切云端", "文本润色 → 切云端", "-", "手机遥控:开 — 二维码…", "-",
                     "设置…", "检查更新…", "-", "退出 Vurin"}));
    const auto& items = shell->statusItem->menu.items;
    for (const std::size_t index : {6, 8, 9, 11}) {
        items[index].action();
    }
    EXPECT_EQ(trace, (Lines{"cleanup", "migrate", "updates", "phone", "check"}));
    EXPECT_EQ(settings->calls, Lines{"show"});
    EXPECT_EQ(shell->terminations, 1);
    controller->config() = Config{.sttProvider = "?", .polishProvider = "cloud", .uiLang = "zh"};
    controller->applicationDidFinishLaunching();  // an unknown provider counts as cloud
    EXPECT_EQ(menuTitles().at(2) + menuTitles().at(4), "  云端 Key 未设置: Groq语音识别 → 切本地");
    const std::pair<AppState, const char*> states[] = {
        {AppState::recording, "recording Vurin — 录音中… 状态:录音中…"},
        {AppState::transcribing, "transcribing Vurin — 转写中… 状态:转写润色中…"},
        {AppState::pendingSend, "pending Vurin — 待发送(单击发送) 状态:待发送"}};
    for (const auto& [state, shown] : states) {  // the icon, its tooltip and the menu's first line
        controller->setAppState(state);
        controller->rebuildMenu();
        const auto& item = *shell->statusItem;
        EXPECT_EQ(item.icon + " " + item.toolTip + " " + menuTitles().at(0), shown);
    }
}

// Each switch twice: it saves, logs once each time and drives the services.
TEST_F(Controller, SwitchesSaveLogAndDriveTheServices) {
    controller->config().sttCloudProvider = "openai";
    controller->config().polishCloudProvider = "gemini";
    launch();
    const int builds = shell->statusItem->menuBuilds;
    controller->setSTT(true);  // the same value: nothing at all
    controller->setPolish(true);
    EXPECT_FALSE(std::filesystem::exists(configURL()));
    logs.clear();
    for (const auto toggle :
         {&AppController::quickToggleSTT, &AppController::quickTogglePolish,
          &AppController::toggleSendOnClick, &AppController::toggleCloudFallback,
          &AppController::toggleSaveTextHistory}) {
        for (int twice = 0; twice < 2; ++twice) {
            ((*controller).*toggle)();
            EXPECT_EQ(loadConfig(), controller->config());
        }
    }
    EXPECT_EQ(logs.size(), 10U);
    EXPECT_EQ(logs.front() + logs.back(),
              "STT 已切换到云端(OpenAI)已关闭:history 只保存指标,不保存全文");
    EXPECT_EQ(whisper->stops + ollama->stops, 2);
    ASSERT_EQ(whisper->started.size() + ollama->started.size(), 2U);
    whisper->started[0]();
    ollama->started[0]();
    EXPECT_EQ(shell->statusItem->menuBuilds, builds + 12);
    EXPECT_EQ(std::count(settings->calls.begin(), settings->calls.end(), "refresh"), 8);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "fallback settings"), 2);
}

TEST_F(Controller, EachAlertIsShownOnceAndAnotherAnswerGoesBackToTheTray) {
    controller->warnLocalUnavailable();
    controller->warnLocalUnavailable();
    EXPECT_EQ(shell->alerts.size(), 1U);
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
}

}  // namespace
}  // namespace vurin::testing
