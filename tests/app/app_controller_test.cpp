#include <gtest/gtest.h>

#include <filesystem>

#include "app/event_tap_wiring.h"
#include "config/config.h"
#include "providers/provider_runtime_status.h"
#include "support/app_controller_fixture.h"
#include "support/fake_key_grab.h"
#include "support/language.h"

namespace vurin::testing {
namespace {

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
    std::vector<std::string> readyLines(const std::string& settings, const std::string& history) {
        return {"👂 Vurin 就绪(F13,键码 105)。长按=说话 单击=发送 双击=取消。菜单栏图标可查看状态",
                "   " + settings, "   历史指标:" + historyURL().string() + "  全文:" + history};
    }
};

TEST_F(Controller, LaunchRunsTheSequenceAndLogsTheReadyLinesOnce) {
    launch();
    EXPECT_EQ(startupTrace, (std::vector<std::string>{"cleanup", "migrate", "updates"}));
    EXPECT_EQ(recorder->warmUps, std::vector<bool>{true});
    EXPECT_EQ(permissions->checks, 1);
    EXPECT_EQ(phone->calls, std::vector<std::string>{"startIfEnabled"});
    EXPECT_EQ(trigger->setups, 1);
    EXPECT_EQ(shell->statusItem->title, "🎙️");
    EXPECT_EQ(logs,
              readyLines("单击发送:开  识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)  语言:自动",
                         "不保存"));
    EXPECT_TRUE(controller->finishInputSetup());
    queue->advance(1.0);
    EXPECT_EQ(logs.size(), 3U);
    EXPECT_EQ(permissions->onboardingShown, 0);

    controller->applicationWillTerminate();
    EXPECT_EQ(whisper->stops, 1);
    EXPECT_EQ(ollama->stops, 1);
    EXPECT_EQ(phone->calls, (std::vector<std::string>{"startIfEnabled", "forceRelease", "stop"}));
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
    EXPECT_FALSE(controller->didFinishInputSetup());
    EXPECT_TRUE(logs.empty());

    permissions->granted = true;
    trigger->succeeds = false;
    EXPECT_FALSE(controller->finishInputSetup());
    EXPECT_EQ(logs, std::vector<std::string>{
                        "❌ 创建 Event Tap 失败。触发键可能已被其他程序占用,或无法连接 X11 显示"});
    trigger->succeeds = true;
    EXPECT_TRUE(controller->finishInputSetup());
    EXPECT_EQ(logs.size(), 4U);  // the ready lines, once
}

TEST_F(Controller, OnboardingAfterAFailedTapAndNotOnceTheControllerIsGone) {
    trigger->succeeds = false;
    launch();
    queue->advance(0.5);
    EXPECT_EQ(permissions->onboardingShown, 1);
    controller->applicationDidFinishLaunching();
    controller.reset();
    queue->advance(1.0);
    EXPECT_EQ(permissions->onboardingShown, 1);
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
    EXPECT_EQ(settings->calls, std::vector<std::string>{"refresh"});
    EXPECT_EQ(menuTitles().at(1), "  识别: 本地(就绪)   ·   润色: 本地qwen(未就绪)");
}

// The status item and the menu's status line in each state, in both languages.
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
            EXPECT_EQ(shell->statusItem->title, test.title);
            EXPECT_EQ(shell->statusItem->toolTip,
                      std::string("Vurin — ") + (english ? test.tipEn : test.tipZh));
            EXPECT_EQ(phone->broadcasts.back(), appStateWireName(test.state));
            EXPECT_NE(menuTitles().at(0), english ? test.lineEn : test.lineZh);  // until rebuilt
            controller->rebuildMenu();
            EXPECT_EQ(menuTitles().at(0), english ? test.lineEn : test.lineZh);
            controller->setAppState(test.state == AppState::idle ? AppState::recording
                                                                 : AppState::idle);
            controller->rebuildMenu();
        }
    }
}

TEST_F(Controller, MenusAndTheirActions) {
    controller->config().phoneTriggerEnabled = true;
    launch();
    EXPECT_EQ(menuTitles(),
              (std::vector<std::string>{
                  "状态:就绪(F13)", "  识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)", "-",
                  "语音识别 → 切云端", "文本润色 → 切云端", "-", "手机遥控:开 — 二维码…", "-",
                  "设置…", "检查更新…", "-", "退出 Vurin"}));
    const auto& items = shell->statusItem->menu.items;
    EXPECT_FALSE(items[0].enabled || items[1].enabled);
    EXPECT_EQ(items[8].keyEquivalent + items[11].keyEquivalent, ",q");
    for (const std::size_t index : {6, 8, 9, 11}) {
        items[index].action();
    }
    EXPECT_EQ(menuActions, (std::vector<std::string>{"phone", "updates"}));
    EXPECT_EQ(settings->calls, std::vector<std::string>{"show"});
    EXPECT_EQ(shell->terminations, 1);

    ASSERT_EQ(shell->mainMenu.size(), 2U);
    EXPECT_EQ(shell->mainMenu[0].items.at(0).title, "退出 Vurin");
    EXPECT_EQ(shell->mainMenu[0].items[0].keyEquivalent, "q");
    const auto& edit = shell->mainMenu[1];
    std::vector<std::string> titles{edit.title};
    for (const auto& item : edit.items) {
        titles.push_back(item.kind == MenuItem::Kind::separator
                             ? "-"
                             : item.title + " " + (item.shiftModifier ? "⇧" : "") +
                                   item.keyEquivalent);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"编辑", "撤销 z", "重做 ⇧z", "-", "剪切 x",
                                                "复制 c", "粘贴 v", "全选 a"}));

    controller->config().uiLang = "en";
    controller->config().phoneTriggerEnabled = false;
    controller->applicationDidFinishLaunching();
    EXPECT_EQ(shell->mainMenu[1].title, "Edit");
    EXPECT_EQ(
        menuTitles(),
        (std::vector<std::string>{
            "Status: Ready (F13)", "  STT: Local not ready   ·   Polish: Local qwen not ready", "-",
            "Speech → switch to Cloud", "Polish → switch to Cloud", "-", "Phone remote…", "-",
            "Settings…", "Check for Updates…", "-", "Quit Vurin"}));
}

TEST_F(Controller, CloudProvidersAndAMissingKey) {
    controller->config().sttProvider = "something";  // an unknown value counts as cloud
    controller->config().polishProvider = "cloud";
    launch();
    auto titles = menuTitles();
    EXPECT_EQ(std::vector<std::string>(titles.begin() + 2, titles.begin() + 6),
              (std::vector<std::string>{"  云端 Key 未设置: Groq", "-", "语音识别 → 切本地",
                                        "文本润色 → 切本地"}));
    setCloudKeyPresenceLookup([](const std::string&) { return true; });
    controller->rebuildMenu();
    EXPECT_EQ(menuTitles().at(2), "-");
    controller->quickToggleSTT();
    EXPECT_EQ(controller->config().sttProvider, "local");
}

// Each switch four times: twice in Chinese, twice in English.
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
        std::vector<std::string> lines;
    } cases[] = {
        {&AppController::quickToggleSTT,
         {"STT 已切换到云端(OpenAI)", "STT 已切换到本地(whisper),启动 server…"}},
        {&AppController::quickTogglePolish,
         {"润色已切换到云端(Gemini)", "润色已切换到本地(qwen2.5:7b),启动 ollama…"}},
        {&AppController::toggleSendOnClick, {"单击发送已关闭", "单击发送已开启"}},
        {&AppController::toggleCloudFallback,
         {"已开启全局回退:本地未就绪时允许回退云端", "已关闭全局回退:本地模式不会自动上云",
          "Enabled global fallback: local failures may fall back to cloud",
          "Disabled global fallback: local mode will not auto-fallback to cloud"}},
        {&AppController::toggleSaveTextHistory,
         {"已开启:history 会保存原文和润色全文", "已关闭:history 只保存指标,不保存全文",
          "Enabled: history will store raw and polished text",
          "Disabled: history stores metrics only"}},
    };
    for (const auto& test : cases) {
        for (std::size_t i = 0; i < 4; ++i) {
            applyUILang(i < 2 ? "zh" : "en");
            logs.clear();
            ((*controller).*(test.toggle))();
            EXPECT_EQ(logs, std::vector<std::string>{test.lines[i % test.lines.size()]});
            EXPECT_EQ(loadConfig(), controller->config());
        }
    }
    EXPECT_EQ(shell->statusItem->menuBuilds, builds + 20);
    EXPECT_EQ(whisper->stops + ollama->stops, 4);
    ASSERT_EQ(whisper->started.size() + ollama->started.size(), 4U);
    whisper->started[0]();
    ollama->started[0]();
    EXPECT_EQ(shell->statusItem->menuBuilds, builds + 22);
    EXPECT_EQ(std::count(settings->calls.begin(), settings->calls.end(), "refresh"), 4 + 4 + 4 + 2);
    EXPECT_EQ(menuActions, std::vector<std::string>(4, "fallback settings"));
}

TEST_F(Controller, EachAlertIsShownOnceAndItsFirstButtonOpensTheSpeechSettings) {
    launch();
    applyUILang("en");
    shell->alertResponse = kAlertFirstButtonReturn;
    controller->warnNotConfigured();
    controller->warnNotConfigured();
    EXPECT_EQ(settings->calls, (std::vector<std::string>{"show", "tab 1"}));
    EXPECT_EQ(shell->policies, std::vector<ActivationPolicy>{ActivationPolicy::regular});
    applyUILang("zh");
    shell->alertResponse = kAlertFirstButtonReturn + 1;
    controller->warnLocalUnavailable();
    controller->warnLocalUnavailable();
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
    EXPECT_EQ(shell->activations, 2);
    ASSERT_EQ(shell->alerts.size(), 2U);
    EXPECT_EQ(shell->alerts[0].messageText, "Vurin isn't set up yet");
    EXPECT_EQ(shell->alerts[0].buttons,
              (std::vector<std::string>{"Open Speech Settings", "Later"}));
    EXPECT_NE(shell->alerts[0].informativeText.find("\nFirst, choose one in Speech"),
              std::string::npos);
    EXPECT_EQ(shell->alerts[1].messageText, "本地语音识别还没就绪");
    EXPECT_EQ(shell->alerts[1].buttons, (std::vector<std::string>{"打开设置", "以后再说"}));
}

TEST_F(Controller, EventTapWiring) {
    controller->config().keyCode = 61;
    auto grab = std::make_shared<FakeKeyGrab>();
    auto tap = EventTap::create(queue, grab);
    wireEventTap(*tap, controller);
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
    EXPECT_EQ(controller->config().keyCode, 53);
    EXPECT_EQ(shell->statusItem->title, "🎙️");
    EXPECT_EQ(menuTitles().at(0), "状态:就绪(Key 53)");  // the fixture's display names
}

}  // namespace
}  // namespace vurin::testing
