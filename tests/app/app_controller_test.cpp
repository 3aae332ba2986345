#include <gtest/gtest.h>

#include "app/event_tap_wiring.h"
#include "config/config.h"
#include "providers/provider_runtime_status.h"
#include "support/app_controller_fixture.h"
#include "support/fake_key_grab.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;

class Controller : public AppControllerFixture {
  protected:
    void SetUp() override {
        AppControllerFixture::SetUp();
        std::filesystem::remove(configURL());
    }
    void TearDown() override {
        AppControllerFixture::TearDown();
        setCloudKeyPresenceLookup({});
        applyUILang("zh");
    }
    Lines readyLines(const std::string& settings, const std::string& history) {
        return {"👂 Vurin 就绪(F13,键码 105)。长按=说话 单击=发送 双击=取消。菜单栏图标可查看状态",
                "   " + settings, "   历史指标:" + historyURL().string() + "  全文:" + history};
    }
};

TEST_F(Controller, LaunchRunsTheSequenceAndLogsTheReadyLinesOnce) {
    launch();
    EXPECT_EQ(trace, (Lines{"cleanup", "migrate", "updates"}));
    EXPECT_EQ(recorder->warmUps, std::vector<bool>{true});
    EXPECT_EQ(permissions->checks + trigger->setups, 2);
    EXPECT_EQ(logs,
              readyLines("单击发送:开  识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)  语言:自动",
                         "不保存"));
    EXPECT_TRUE(controller->finishInputSetup());
    queue->advance(1.0);
    EXPECT_EQ(logs.size(), 3U);
    EXPECT_EQ(permissions->onboardingShown, 0);
    controller->applicationWillTerminate();
    EXPECT_EQ(whisper->stops + ollama->stops, 2);
    EXPECT_EQ(phone->calls, (Lines{"startIfEnabled", "forceRelease", "stop"}));
    queue->advance(30.0);
    EXPECT_EQ(whisper->maintained.size(), 1U);
}

TEST_F(Controller, ReadyLinesShowTheSettingsAsStored) {
    controller->config().sendOnClick = false;
    controller->config().sttLanguage = "ja";
    controller->config().saveTextHistory = true;
    whisper->ready = true;
    launch();
    EXPECT_EQ(
        logs,
        readyLines("单击发送:关  识别: 本地(就绪)   ·   润色: 本地qwen(未就绪)  语言:ja", "保存"));
}

TEST_F(Controller, OnboardingOpensHalfASecondAfterAMissingGrantOrAFailedTap) {
    permissions->granted = false;
    launch();
    EXPECT_EQ(trigger->setups, 0);
    queue->advance(0.49);
    EXPECT_EQ(permissions->onboardingShown, 0);
    queue->advance(0.01);
    EXPECT_EQ(permissions->onboardingShown, 1);
    EXPECT_TRUE(logs.empty());
    permissions->granted = true;
    trigger->succeeds = false;
    controller->applicationDidFinishLaunching();
    EXPECT_EQ(logs, Lines{"❌ 创建 Event Tap 失败。触发键可能已被其他程序占用,或无法连接 X11 显示"});
    queue->advance(0.5);
    EXPECT_EQ(permissions->onboardingShown, 2);
    controller->applicationDidFinishLaunching();
    controller.reset();  // gone before the half second has passed
    queue->advance(1.0);
    EXPECT_EQ(permissions->onboardingShown, 2);
}

TEST_F(Controller, LocalServicesAreMaintainedEveryTenSecondsWhenSelectedAndInstalled) {
    launch();
    queue->advance(10.0);
    whisperModelFound = false;
    controller->config().polishProvider = "cloud";
    queue->advance(10.0);
    whisperModelFound = true;
    ollamaBinaryFound = false;
    controller->config().polishProvider = "local";
    queue->advance(10.0);
    EXPECT_EQ(whisper->maintained.size(), 3U);
    EXPECT_EQ(ollama->maintained.size(), 2U);
    whisper->ready = true;  // a service that becomes ready refreshes the menu and the settings
    whisper->maintained.at(0)();
    EXPECT_EQ(settings->calls, Lines{"refresh"});
    EXPECT_EQ(menuTitles().at(1), "  识别: 本地(就绪)   ·   润色: 本地qwen(未就绪)");
}

// The status item, the phone's state and the menu's status line in each state.
TEST_F(Controller, StatusTexts) {
    launch();
    const struct {
        AppState state;
        const char *title, *tipZh, *tipEn, *lineZh, *lineEn;
    } cases[] = {
        {AppState::recording, "🔴", "录音中…", "Recording…", "状态:录音中…", "Status: Recording…"},
        {AppState::transcribing, "⏳", "转写中…", "Transcribing…", "状态:转写润色中…",
         "Status: Transcribing…"},
        {AppState::pendingSend, "✅", "待发送(单击发送)", "Ready to send (click to send)",
         "状态:待发送", "Status: Ready to send"},
        {AppState::idle, "🎙️", "就绪", "Ready", "状态:就绪(F13)", "Status: Ready (F13)"},
    };
    for (const auto& test : cases) {
        for (const bool english : {false, true}) {
            SCOPED_TRACE(test.lineEn);
            applyUILang(english ? "en" : "zh");
            controller->setAppState(test.state);
            controller->rebuildMenu();
            EXPECT_EQ(shell->statusItem->title, test.title);
            EXPECT_EQ(shell->statusItem->toolTip,
                      std::string("Vurin — ") + (english ? test.tipEn : test.tipZh));
            EXPECT_EQ(phone->broadcasts.back(), appStateWireName(test.state));
            EXPECT_EQ(menuTitles().at(0), english ? test.lineEn : test.lineZh);
        }
    }
}

TEST_F(Controller, MenusAndTheirActions) {
    controller->config().phoneTriggerEnabled = true;
    launch();
    EXPECT_EQ(menuTitles(),
              (Lines{"状态:就绪(F13)", "  识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)", "-",
                     "语音识别 → 切云端", "文本润色 → 切云端", "-", "手机遥控:开 — 二维码…", "-",
                     "设置…", "检查更新…", "-", "退出 Vurin"}));
    const auto& items = shell->statusItem->menu.items;
    EXPECT_FALSE(items[0].enabled || items[1].enabled);
    EXPECT_EQ(items[8].keyEquivalent + items[11].keyEquivalent, ",q");
    for (const std::size_t index : {6, 8, 9, 11}) {
        items[index].action();
    }
    EXPECT_EQ(trace.back(), "check");
    EXPECT_EQ(settings->calls, Lines{"show"});
    EXPECT_EQ(shell->terminations, 1);

    controller->config() =
        Config{.sttProvider = "something", .polishProvider = "cloud", .uiLang = "en"};
    controller->applicationDidFinishLaunching();  // an unknown provider counts as cloud
    EXPECT_EQ(menuTitles(), (Lines{"Status: Ready (F13)",
                                   "  STT: Groq (missing key)   ·   Polish: Groq (missing key)",
                                   "  Cloud key missing: Groq", "-", "Speech → switch to Local",
                                   "Polish → switch to Local", "-", "Phone remote…", "-",
                                   "Settings…", "Check for Updates…", "-", "Quit Vurin"}));
    setCloudKeyPresenceLookup([](const std::string&) { return true; });
    controller->rebuildMenu();
    EXPECT_EQ(menuTitles().at(2), "-");
}

// Each switch twice; the logs are what the user reads in the terminal.
TEST_F(Controller, SwitchesSaveLogAndDriveTheServices) {
    controller->config().sttCloudProvider = "openai";
    controller->config().polishCloudProvider = "gemini";
    launch();
    logs.clear();
    const int builds = shell->statusItem->menuBuilds;
    controller->setSTT(true);  // the same value: nothing at all
    controller->setPolish(true);
    EXPECT_TRUE(logs.empty());
    EXPECT_FALSE(std::filesystem::exists(configURL()));
    const struct {
        void (AppController::*toggle)();
        const char *first, *second;
    } cases[] = {
        {&AppController::quickToggleSTT, "STT 已切换到云端(OpenAI)",
         "STT 已切换到本地(whisper),启动 server…"},
        {&AppController::quickTogglePolish, "润色已切换到云端(Gemini)",
         "润色已切换到本地(qwen2.5:7b),启动 ollama…"},
        {&AppController::toggleSendOnClick, "单击发送已关闭", "单击发送已开启"},
        {&AppController::toggleCloudFallback, "已开启全局回退:本地未就绪时允许回退云端",
         "已关闭全局回退:本地模式不会自动上云"},
        {&AppController::toggleSaveTextHistory, "已开启:history 会保存原文和润色全文",
         "已关闭:history 只保存指标,不保存全文"},
    };
    for (const auto& test : cases) {
        for (const char* line : {test.first, test.second}) {
            logs.clear();
            ((*controller).*(test.toggle))();
            EXPECT_EQ(logs, Lines{line});
            EXPECT_EQ(loadConfig(), controller->config());
        }
    }
    EXPECT_EQ(shell->statusItem->menuBuilds, builds + 10);
    EXPECT_EQ(whisper->stops + ollama->stops, 2);
    ASSERT_EQ(whisper->started.size() + ollama->started.size(), 2U);
    whisper->started[0]();
    ollama->started[0]();
    EXPECT_EQ(shell->statusItem->menuBuilds, builds + 12);
    EXPECT_EQ(std::count(settings->calls.begin(), settings->calls.end(), "refresh"), 2 + 2 + 2 + 2);
    EXPECT_EQ(trace.back(), "fallback settings");
}

TEST_F(Controller, EachAlertIsShownOnceAndItsFirstButtonOpensTheSpeechSettings) {
    launch();
    shell->alertResponse = kAlertFirstButtonReturn;
    controller->warnNotConfigured();
    controller->warnNotConfigured();
    EXPECT_EQ(settings->calls, (Lines{"show", "tab 1"}));
    EXPECT_EQ(shell->policies, std::vector<ActivationPolicy>{ActivationPolicy::regular});
    shell->alertResponse = kAlertFirstButtonReturn + 1;
    controller->warnLocalUnavailable();
    controller->warnLocalUnavailable();
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
    EXPECT_EQ(shell->activations, 2);
    ASSERT_EQ(shell->alerts.size(), 2U);
    EXPECT_EQ(shell->alerts[0].messageText, "Vurin 还没配置好");
    EXPECT_EQ(shell->alerts[0].buttons, (Lines{"打开语音识别设置", "以后再说"}));
    EXPECT_EQ(shell->alerts[1].messageText, "本地语音识别还没就绪");
    EXPECT_EQ(shell->alerts[1].buttons, (Lines{"打开设置", "以后再说"}));
}

TEST_F(Controller, EventTapWiring) {
    controller->config().keyCode = 61;
    auto grab = std::make_shared<FakeKeyGrab>();
    auto tap = EventTap::create(queue, grab);
    std::string label;
    wireEventTap(*tap, controller, [&](const std::string& text) { label = text; });
    launch();
    ASSERT_TRUE(tap->setupEventTap());
    EXPECT_EQ(grab->startedWith, std::vector<int>{100});
    grab->press(100);
    queue->advance(0.5);
    EXPECT_EQ(controller->appState(), AppState::recording);
    grab->release(100);
    queue->runPending();
    EXPECT_EQ(controller->appState(), AppState::transcribing);
    controller->setAppState(AppState::idle);
    tap->startDetectKey();
    EXPECT_EQ(shell->statusItem->title, "⌨️");
    grab->press(1);  // Escape
    queue->runPending();
    EXPECT_EQ(loadConfig().keyCode, 53);
    EXPECT_EQ(shell->statusItem->title, "🎙️");
    EXPECT_EQ(menuTitles().at(0), "状态:就绪(Key 53)");  // the fixture's display names
    EXPECT_EQ(label, "当前:Escape (键码 53)");
    controller.reset();  // the wiring holds the controller weakly
    tap->startDetectKey();
    grab->press(30);
    queue->runPending();
}

}  // namespace
}  // namespace vurin::testing
