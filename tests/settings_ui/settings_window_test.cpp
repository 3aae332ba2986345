#include <gtest/gtest.h>

#include <functional>

#include "app/event_tap_wiring.h"
#include "app/unavailable_services.h"
#include "input/trigger_key_names.h"
#include "settings_ui/settings_wiring.h"
#include "support/fake_key_grab.h"
#include "support/language.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;
using SettingsWindow = SettingsControllerFixture;

class Panes;
struct PaneCase {
    std::string name;
    int pane;
    std::string cards;  // each card's symbol and number of blocks
    std::function<void(Panes&)> setup;
    Lines shown;  // runs of the pane's text
};

// What each pane shows for the stored settings, the local components, the keys and the
// permissions.
class Panes : public SettingsControllerFixture, public ::testing::WithParamInterface<PaneCase> {
  public:
    static std::vector<PaneCase> cases() {
        const std::string polishLocal = "text.badge.checkmark:1 cpu:";
        return {
            {"GeneralAsStored",
             0,
             "keyboard:4 mic:2 gearshape:5",
             [](Panes& t) {
                 t.configure(R"({"keyCode": 61, "sendOnClick": false, "saveTextHistory": true,
                                 "uiLang": "fr", "soundVolume": 0.55, "micDevice": "system",
                                 "autoCheckUpdates": false})");
                 t.loginItem->state = LoginItemStatus::requiresApproval;
             },
             {"label:Key 61 | button:重新识别 | 单击发送 | 松手后单击合成回车 | switch:off |",
              "私密 | switch:on |", "segments:内置/系统默认@1 |", "slider:0.55 | label:55% |",
              "已登记,需在桌面设置的“自动启动”中批准 | switch:on |", "English@0 |",
              "不带数据) | switch:off |", "Version 0.1.0 (0.1.0) · support@vurin.app |"}},
            {"LaunchAtLoginEnabled",
             0,
             "keyboard:4 mic:2 gearshape:5",
             [](Panes& t) { t.loginItem->state = LoginItemStatus::enabled; },
             {"由桌面的自动启动管理(~/.config/autostart) | switch:on |"}},
            {"SpeechCloudWithoutAKey",
             1,
             "waveform:2 cloud:6",
             [](Panes& t) { t.configure(R"({"sttProvider": "cloud", "sttLanguage": "en"})"); },
             {"whisper@0 |", "English@2 |",
              "popup:Groq/OpenAI/Gemini@0 | 模型 | - | label:whisper-large-v3 | key:gsk_… | "
              "button:保存 Key | button:清除 Key | 尚未保存 Groq Key。 | 云端识别会把音频发送"}},
            {"SpeechLocalWithFallbackToOpenAI",
             1,
             "waveform:2 cpu:6 arrow.triangle.branch:2 cloud:6",
             [](Panes& t) {
                 t.configure(R"({"sttLanguage": "de", "allowCloudFallback": true,
                                 "sttCloudProvider": "openai"})");
                 t.whisperBinaryFound = false;
                 t.ollama->ready = true;
             },
             {"whisper@1 |", "English@0 |", "label:未安装 |", "label:Running |", "缺少:whisper。",
              "switch:on |", "@1 | 模型 | - | label:gpt-4o-mini-transcribe | key:sk-… |",
              "尚未保存 OpenAI Key。 | 本地未就绪且允许回退时,音频会发送到此服务商。"}},
            {"PolishLocalWithBothMissing",
             2,
             polishLocal + "7 arrow.triangle.branch:2",
             [](Panes& t) { t.whisperModelFound = t.ollamaModelFound = false; },
             {"qwen@1 |", "label:未安装 | 本地 qwen | qwen2.5:7b | label:未安装 |",
              "keep_alive=30m", "缺少:whisper、qwen2.5:7b。", "switch:off |"}},
            {"PolishLocalWithFallbackAndQwenMissing",
             2,
             polishLocal + "6 arrow.triangle.branch:2 cloud:6",
             [](Panes& t) {
                 t.configure(R"({"allowCloudFallback": true})");
                 t.ollamaBinaryFound = false;
                 t.whisper->ready = true;
             },
             {"label:Running | 本地 qwen | qwen2.5:7b | label:未安装 |", "缺少:qwen2.5:7b。",
              "label:qwen/qwen3.6-27b |", "转写文本会发送到此服务商。"}},
            {"InstalledComponentsIdle",
             2,
             polishLocal + "3 arrow.triangle.branch:2",
             [](Panes&) {},
             {"label:Idle | 本地 qwen | qwen2.5:7b | label:Idle |"}},
            {"PolishCloudWithAStoredKey",
             2,
             "text.badge.checkmark:1 cloud:6",
             [](Panes& t) {
                 t.configure(R"({"polishProvider": "cloud", "polishCloudProvider": "gemini"})");
                 t.keychain->put("GEMINI_API_KEY", "x");
             },
             {"qwen@0 |",
              "@2 | 模型 | - | label:gemini-2.5-flash | key:输入新 Key 后点替换 | "
              "button:替换 Key |",
              "已保存 Gemini Key,输入框不回显真实 Key。 | 云端润色只发送"}},
            {"GeminiKeyHint",
             2,
             "text.badge.checkmark:1 cloud:6",
             [](Panes& t) {
                 t.configure(R"({"polishProvider": "cloud", "polishCloudProvider": "gemini"})");
             },
             {"key:Google AI Studio Key |"}},
            {"MissingPermissions",
             3,
             "lock.shield:6",
             [](Panes& t) {
                 t.permissions->granted = false;
                 t.permissionTexts = {"❌ 未允许", "✅ 已允许", "⏳ 待定", false};
             },
             {"⚠️ 缺少必要权限,Vurin "
              "还无法工作。开启下面三项后,退出重开一次生效。",
              "label:❌ 未允许 |", "label:✅ 已允许 |", "label:⏳ 待定 |"}},
            {"PermissionsGranted", 3, "lock.shield:5", [](Panes&) {}, {}},
        };
    }
};

TEST_P(Panes, ShowWhatIsStored) {
    GetParam().setup(*this);
    settingsController->showSettings();
    ASSERT_NE(window(), nullptr);
    std::string cards;
    for (const auto& card :
         window()->model.panes.at(static_cast<std::size_t>(GetParam().pane)).cards) {
        cards +=
            (cards.empty() ? "" : " ") + card.symbol + ":" + std::to_string(card.blocks.size());
    }
    EXPECT_EQ(cards, GetParam().cards);
    const std::string text = paneText(GetParam().pane);
    for (const auto& shown : GetParam().shown) {
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\nin " << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, Panes, ::testing::ValuesIn(Panes::cases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(SettingsWindow, OpensOnceAndOnThePermissionsTabWhileOneIsMissing) {
    settingsController->showSettings();
    settingsController->showSettings();
    ASSERT_EQ(windows->opened.size(), 1U);
    EXPECT_EQ(window()->model.tabs->selected, 0);
    EXPECT_EQ(window()->scrollsToTop, 1);
    EXPECT_EQ(window()->raises, 2);
    EXPECT_EQ(shell->policies, std::vector(2, ActivationPolicy::regular));
    window()->userCloses();
    permissions->granted = false;
    settingsController->showSettings();
    EXPECT_EQ(window()->model.tabs->selected, static_cast<int>(SettingsTab::permissions));
}

TEST_F(SettingsWindow, HealthLineAndDotFollowPermissionsEnginesAndKeys) {
    settingsController->showSettings();
    const struct {
        std::function<void()> change;
        std::string line;
        ColourRole dot;
    } cases[] = {
        {[] {}, "权限已就绪 · 识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)", ColourRole::green},
        {[this] {
             configure(R"({"sttProvider": "cloud", "polishProvider": "cloud",
                           "polishCloudProvider": "openai"})");
         },
         "权限已就绪 · 识别: Groq(缺 Key)   ·   润色: OpenAI(缺 Key) · 缺 Key:Groq / OpenAI",
         ColourRole::orange},
        {[this] {
             keychain->put("GROQ_API_KEY", "g");
             keychain->put("OPENAI_API_KEY", "o");
         },
         "权限已就绪 · 识别: Groq   ·   润色: OpenAI", ColourRole::green},
        {[this] { permissions->granted = false; }, "缺少权限 · 识别: Groq   ·   润色: OpenAI",
         ColourRole::orange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        c.change();
        controller->refreshSettingsHealthSummary();
        EXPECT_EQ(window()->shownText(kSettingsHealthLabelId), c.line);
        EXPECT_EQ(window()->colours[kSettingsHealthDotId], c.dot);
    }
    applyUILang("en");
    EXPECT_EQ(settingsController->settingsHealthSummaryText(),
              "Permissions missing · STT: Groq   ·   Polish: OpenAI");
}

TEST_F(SettingsWindow, PermissionLabelsRefreshEverySecondUntilTheWindowCloses) {
    settingsController->showSettings();
    auto view = windows->last();
    permissionTexts.microphone = "❌ 已拒绝";
    queue->advance(0.9);
    EXPECT_EQ(view->shownText(kSettingsMicStatusId), "✅ 已允许");
    queue->advance(0.1);
    EXPECT_EQ(view->shownText(kSettingsMicStatusId), "❌ 已拒绝");
    permissionTexts.accessibility = "❌ 未允许";
    queue->advance(1.0);
    EXPECT_EQ(view->shownText(kSettingsAxStatusId), "❌ 未允许");
    view->userCloses();
    EXPECT_TRUE(view->closed);
    EXPECT_FALSE(settingsController->isSettingsOpen());
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
    permissionTexts.inputMonitoring = "❌ 未允许";
    queue->advance(3.0);
    EXPECT_EQ(view->shownText(kSettingsInputStatusId), "✅ 已允许");
}

TEST_F(SettingsWindow, ATabScrollsUpAndRefreshesHealthAndOnPermissionsTheirLabels) {
    settingsController->showSettings();
    permissionTexts.accessibility = "❌ 未允许";
    window()->model.tabs->onSelect(2);
    EXPECT_EQ(window()->scrollsToTop, 2);
    EXPECT_EQ(window()->shownText(kSettingsAxStatusId), "✅ 已允许");
    EXPECT_EQ(window()->texts.count(kSettingsHealthLabelId), 1U);
    window()->model.tabs->onSelect(3);
    EXPECT_EQ(window()->shownText(kSettingsAxStatusId), "❌ 未允许");
    answerFirst();
    controller->warnNotConfigured();  // its first button opens the speech tab
    EXPECT_EQ(window()->selectedTab(), 1);
    EXPECT_EQ(window()->scrollsToTop, 4);
}

TEST_F(SettingsWindow, ControlsCallTheirOperations) {
    whisperModelFound = false;
    settingsController->showSettings();
    const auto control = [this](int pane, int card, int block) -> const Control::Kind& {
        const auto& cards = window()->model.panes.at(static_cast<std::size_t>(pane)).cards;
        return std::get<RowBlock>(cards.at(card).blocks.at(block)).trailing.at(0).kind;
    };
    std::get<Switch>(control(0, 0, 1)).action(false);
    std::get<Switch>(control(0, 0, 2)).action(true);
    std::get<Slider>(control(0, 1, 1)).onRelease(0.5);
    std::get<Switch>(control(0, 2, 0)).action(true);
    std::get<Switch>(control(0, 2, 2)).action(false);
    std::get<SegmentedControl>(control(1, 0, 1)).action(2);
    std::get<SegmentedControl>(control(2, 0, 0)).action(0);
    std::get<PopUpButton>(control(2, 1, 0)).action(1);  // the cloud card of the rebuilt pane
    EXPECT_EQ(controller->config(), decodeConfig(R"({"sendOnClick": false, "sttLanguage": "en",
        "polishProvider": "cloud", "saveTextHistory": true, "polishCloudProvider": "openai",
        "uiLang": "zh", "soundVolume": 0.5, "autoCheckUpdates": false})"));
    EXPECT_EQ(loginItem->calls, Lines{"register"});
    setSoundVolume(0.3F);
    for (const char* button :
         {"重新识别", "去设置", "立即检查", "写邮件", "安装缺失组件(打开终端)…"}) {
        EXPECT_TRUE(window()->press(button)) << button;
    }
    EXPECT_EQ(hookCalls, (Lines{"detect", "ax"}));
    EXPECT_EQ(updates->timeouts.size(), 1U);
    EXPECT_EQ(openedURLs.size(), 1U);
    EXPECT_EQ(terminal->commands.size(), 1U);
}

TEST_F(SettingsWindow, ADetectedKeyIsShownInTheOpenWindow) {
    auto grab = std::make_shared<FakeKeyGrab>();
    auto tap = EventTap::create(queue, grab);
    wireEventTap(*tap, controller,
                 [weak = std::weak_ptr(settingsController)](const std::string& text) {
                     if (auto live = weak.lock()) {
                         live->setTriggerKeyLabel(text);
                     }
                 });
    launch();
    settingsController->showSettings();
    ASSERT_TRUE(tap->setupEventTap());
    tap->startDetectKey();
    grab->press(1);  // Escape
    queue->runPending();
    EXPECT_EQ(window()->shownText(kSettingsTriggerKeyLabelId), triggerKeyLabelText(53));
    tap->stop();
}

TEST_F(SettingsWindow, ActionsOutliveTheControllersWithoutEffect) {
    settingsController->showSettings();
    settingsController->checkForUpdatesOnLaunchIfEnabled();
    auto view = windows->last();
    controller.reset();
    settingsController.reset();
    EXPECT_TRUE(view->press("立即检查"));  // held weakly: nothing runs, nothing crashes
    view->model.tabs->onSelect(3);
    queue->advance(6);
    EXPECT_TRUE(shell->alerts.empty());
    EXPECT_TRUE(updates->timeouts.empty());
}

TEST(SettingsWiring, ServicesHooksReachTheSettingsControllerWeakly) {
    auto queue = std::make_shared<VirtualMainQueue>();
    AppServices services{.mainQueue = queue, .shell = std::make_shared<FakeShell>()};
    fillUnavailableServices(services);
    auto settings = installSettingsController(services, {});
    EXPECT_EQ(services.settings, settings);
    services.refreshSettingsAfterFallbackChange();  // window closed: nothing to rebuild
    services.checkForUpdatesOnLaunchIfEnabled();    // no application controller yet: nothing
    EXPECT_EQ(queue->pendingCount(), 0U);
    std::weak_ptr<SettingsController> weak = settings;
    services.settings.reset();
    settings.reset();
    EXPECT_TRUE(weak.expired());
    services.checkForUpdatesMenu();  // the controller is gone: nothing runs
}

}  // namespace
}  // namespace vurin::testing
