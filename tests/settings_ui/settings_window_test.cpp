#include <gtest/gtest.h>

#include "app/event_tap_wiring.h"
#include "config/config.h"
#include "input/trigger_key_names.h"
#include "support/fake_key_grab.h"
#include "support/language.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;

class SettingsWindow : public SettingsControllerFixture {
  protected:
    // Finds the first control of `Kind` in pane `index` whose row has `rowTitle`.
    template <typename Kind>
    const Kind* rowControl(int index, const std::string& rowTitle) const {
        for (const auto& card : window()->model.panes.at(static_cast<std::size_t>(index)).cards) {
            for (const auto& block : card.blocks) {
                const auto* row = std::get_if<RowBlock>(&block);
                if (!row || row->title != rowTitle) {
                    continue;
                }
                for (const auto& control : row->trailing) {
                    if (const auto* kind = std::get_if<Kind>(&control.kind)) {
                        return kind;
                    }
                }
            }
        }
        return nullptr;
    }
};

const Lines kGeneralChinese = {
    "[keyboard] 触发键 · 交互",
    "  触发键 | 长按说话 · 单击发送 | label:F13 | button:重新识别",
    "  单击发送 | 松手后单击合成回车 | switch:on",
    "  保存全文到历史 | 默认只留延迟等指标,关闭更私密 | switch:off",
    "  历史数据 | 清除本机已保存的指标和全文 | button:清除历史…",
    "[mic] 录音与提示音",
    "  麦克风 | 内置不会把蓝牙耳机切到通话模式 | segments:内置/系统默认@0",
    "  提示音音量 | 拖到最左静音;蓝牙耳机下只能在这里调 | slider:0.3 | label:30%",
    "[gearshape] 启动 · 语言 · 关于",
    "  登录时启动 | 由桌面的自动启动管理(~/.config/autostart) | switch:off",
    "  界面语言 | - | segments:自动/中文/English@1",
    "  检查更新 | 启动时静默查官网版本号,有新版才提示(只查版本、不带数据) | switch:on",
    "  关于 Vurin | Version 0.1.0 (0.1.0) · support@vurin.app | button:立即检查",
    "  联系支持 | - | button:写邮件",
};

const Lines kGeneralEnglish = {
    "[keyboard] Trigger key · Interaction",
    "  Trigger key | Hold to talk · click to send | label:F13 | button:Set key",
    "  Send on click | A click after release synthesizes Return | switch:on",
    "  Save full text in history | Off keeps only metrics — more private | switch:off",
    "  History data | Delete saved metrics and text on this computer | button:Clear…",
    "[mic] Recording & Sound",
    "  Microphone | Keeps Bluetooth out of call mode | segments:Built-in/System@0",
    "  Alert volume | Drag left to mute; the only control for Bluetooth | slider:0.3 | label:30%",
    "[gearshape] Startup · Language · About",
    "  Launch at login | Managed by the desktop's autostart (~/.config/autostart) | switch:off",
    "  Display language | - | segments:Auto/中文/English@1",
    "  Check for updates | Silently checks the site's version on launch; prompts only if newer "
    "(version only, no data) | switch:on",
    "  About Vurin | Version 0.1.0 (0.1.0) · support@vurin.app | button:Check now",
    "  Support | - | button:Email",
};

TEST_F(SettingsWindow, OpensOnGeneralWithTheHealthLineAndFourTabs) {
    settingsController->showSettings();
    ASSERT_NE(window(), nullptr);
    const auto& model = window()->model;
    EXPECT_EQ(model.title, "Vurin 设置");
    EXPECT_EQ(model.width, 560);
    EXPECT_EQ(model.height, 732);
    EXPECT_EQ(model.tabs->titles, (Lines{"通用", "语音识别", "文本润色", "权限"}));
    EXPECT_EQ(model.tabs->selected, 0);
    EXPECT_EQ(window()->shownText(kSettingsHealthLabelId),
              "权限已就绪 · 识别: 本地(未就绪)   ·   润色: 本地qwen(未就绪)");
    EXPECT_EQ(healthDot(), ColourRole::green);
    EXPECT_EQ(window()->scrollsToTop, 1);
    EXPECT_EQ(shell->policies, std::vector<ActivationPolicy>{ActivationPolicy::regular});

    // A second showSettings brings the same window to the front.
    settingsController->showSettings();
    EXPECT_EQ(windows->opened.size(), 1U);
    EXPECT_EQ(window()->raises, 2);
}

TEST_F(SettingsWindow, GeneralPaneInBothLanguages) {
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(0), kGeneralChinese);
    windows->last()->userCloses();
    applyUILang("en");
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(0), kGeneralEnglish);
    EXPECT_EQ(window()->model.title, "Vurin Settings");
}

TEST_F(SettingsWindow, OddStoredValuesSelectTheFirstSegment) {
    controller->config().micDevice = "usb";
    controller->config().uiLang = "fr";
    controller->config().sttLanguage = "de";
    settingsController->showSettings();
    EXPECT_EQ(rowControl<SegmentedControl>(0, "麦克风")->selected, 0);
    EXPECT_EQ(rowControl<SegmentedControl>(0, "界面语言")->selected, 0);
    EXPECT_EQ(rowControl<SegmentedControl>(1, "识别语言")->selected, 0);
    windows->last()->userCloses();
    controller->config().micDevice = "system";
    controller->config().sttLanguage = "en";
    loginItem->state = LoginItemStatus::enabled;
    settingsController->showSettings();
    EXPECT_EQ(rowControl<SegmentedControl>(0, "麦克风")->selected, 1);
    EXPECT_EQ(rowControl<SegmentedControl>(1, "识别语言")->selected, 2);
    EXPECT_TRUE(rowControl<Switch>(0, "登录时启动")->on);
}

TEST_F(SettingsWindow, SpeechPaneWithTheCloudCardAndNoKey) {
    controller->config().sttProvider = "cloud";
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(1),
              (Lines{
                  "[waveform] 语音识别",
                  "  识别引擎 | 本地免费离线;云端更快 | segments:云端/本地 whisper@0",
                  "  识别语言 | 自动检测中英,多约 0.7 秒 | segments:自动/中文/English@0",
                  "[cloud] 云端模型",
                  "  服务商 | - | popup:Groq/OpenAI/Gemini@0",
                  "  模型 | - | label:whisper-large-v3",
                  "  key:gsk_… button:保存 Key button:清除 Key",
                  "  note: 尚未保存 Groq Key。",
                  "  note: 云端识别会把音频发送到所选服务商。",
                  "  note: Key 加密存于系统钥匙环,识别与润色共享同一家的 Key。",
              }));
}

TEST_F(SettingsWindow, SpeechPaneLocalWithFallbackInEnglish) {
    applyUILang("en");
    controller->config().allowCloudFallback = true;
    whisperBinaryFound = false;
    ollama->ready = true;
    settingsController->showSettings();
    EXPECT_EQ(
        paneOutline(1),
        (Lines{
            "[waveform] Speech recognition",
            "  Engine | Local is free & offline; cloud is faster | segments:Cloud/Local@1",
            "  Language | Auto-detect adds ~0.7s | segments:Auto/中文/English@0",
            "[cpu] Local models",
            "  Local whisper | large-v3-turbo | label:Not installed",
            "  Local qwen | qwen2.5:7b | label:Running",
            "  note: Vurin starts the local speech service on launch.",
            "  note: Whisper or the speech model is missing — install below.",
            "  button:Install missing (opens a terminal)…",
            "  note: Missing: whisper. The installer skips ready components; it may ask for your "
            "sudo password.",
            "[arrow.triangle.branch] Global fallback",
            "  Fall back to cloud on failure | Off by default · affects Speech & Polish | "
            "switch:on",
            "  note: When on, audio or text may be sent to the provider below if the matching "
            "local component is unavailable.",
            "[cloud] Fallback cloud model",
            "  Provider | - | popup:Groq/OpenAI/Gemini@0",
            "  Model | - | label:whisper-large-v3",
            "  key:gsk_… button:Save key button:Clear key",
            "  note: No Groq key saved yet.",
            "  note: When local is unavailable and fallback is on, audio goes to this provider.",
            "  note: Keys are stored in the system keyring and shared between Speech and Polish.",
        }));
}

TEST_F(SettingsWindow, PolishPaneLocalWithoutFallbackHasNoProviderCard) {
    whisperBinaryFound = false;
    ollamaModelFound = false;
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(2),
              (Lines{
                  "[text.badge.checkmark] 文本润色",
                  "  润色引擎 | 把口语整理成干净指令 | segments:云端/本地 qwen@1",
                  "[cpu] 本地模型",
                  "  本地 whisper | large-v3-turbo | label:未安装",
                  "  本地 qwen | qwen2.5:7b | label:未安装",
                  "  note: ollama 请求带 keep_alive=30m,让模型常驻内存,减少冷启动长尾。",
                  "  note: 未检测到 whisper 或语音模型,用下面的按钮安装。",
                  "  note: 未检测到 qwen2.5:7b,用下面的按钮安装。",
                  "  button:安装缺失组件(打开终端)…",
                  "  note: 缺少:whisper、qwen2.5:7b。脚本会跳过已就绪组件,可能需要输入 sudo 密码。",
                  "[arrow.triangle.branch] 全局回退",
                  "  失败时回退云端 | 默认关闭 · 影响识别和润色 | switch:off",
                  "  note: 打开后,对应本地组件未就绪时,音频或文本可能发送到下方所选服务商。",
              }));
    ASSERT_TRUE(window()->press("安装缺失组件(打开终端)…"));
    EXPECT_EQ(terminal->commands.size(), 1U);
}

TEST_F(SettingsWindow, ReadyComponentsNeedNoInstallButton) {
    whisper->ready = true;
    settingsController->showSettings();
    const auto polish = paneOutline(2);
    EXPECT_EQ(polish.at(3), "  本地 whisper | large-v3-turbo | label:Running");
    EXPECT_EQ(polish.at(4), "  本地 qwen | qwen2.5:7b | label:Idle");
    EXPECT_EQ(polish.at(6), "[arrow.triangle.branch] 全局回退");
}

TEST_F(SettingsWindow, PolishCloudCardWithAStoredKeyInEnglish) {
    applyUILang("en");
    controller->config().polishProvider = "cloud";
    controller->config().polishCloudProvider = "gemini";
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(2).at(5), "  key:Google AI Studio Key button:Save key button:Clear key");
    keychain->put("GEMINI_API_KEY", "x");
    settingsController->rebuildSettingsPane(SettingsTab::polish);
    EXPECT_EQ(paneOutline(2),
              (Lines{
                  "[text.badge.checkmark] Text polishing",
                  "  Engine | Cleans speech into a crisp command | segments:Cloud/Local@0",
                  "[cloud] Cloud model",
                  "  Provider | - | popup:Groq/OpenAI/Gemini@2",
                  "  Model | - | label:gemini-2.5-flash",
                  "  key:Enter a new key to replace button:Replace key button:Clear key",
                  "  note: Gemini key saved; the real key is never shown.",
                  "  note: Cloud polish sends transcript text only, not audio.",
                  "  note: Keys are stored in the system keyring and shared between Speech and "
                  "Polish.",
              }));
}

TEST_F(SettingsWindow, MissingPermissionOpensThePermissionsTabWithItsWarning) {
    permissions->granted = false;
    permissionTexts = {"❌ Not allowed", "✅ Allowed", "⏳ Pending", false};
    applyUILang("en");
    settingsController->showSettings();
    EXPECT_EQ(window()->model.tabs->selected, 3);
    EXPECT_EQ(healthDot(), ColourRole::orange);
    EXPECT_EQ(
        paneOutline(3),
        (Lines{
            "[lock.shield] Permissions",
            "  note: ⚠️ Missing permissions — Vurin can't work yet. Turn all three on, then "
            "quit & reopen.",
            "  Accessibility | Synthesize Ctrl+V / Return, read focus | label:❌ Not allowed "
            "| button:Open",
            "  Input Monitoring | Listen for and swallow the trigger key | label:✅ Allowed | "
            "button:Open",
            "  Microphone | Record and transcribe | label:⏳ Pending | button:Open",
            "  button:Refresh status",
            "  note: After changing permissions, quit and reopen Vurin once.",
        }));
}

TEST_F(SettingsWindow, PermissionsPaneWhenEverythingIsGranted) {
    settingsController->showSettings();
    EXPECT_EQ(paneOutline(3),
              (Lines{
                  "[lock.shield] 权限",
                  "  辅助功能 | 合成 Ctrl+V / 回车,并读取焦点 | label:✅ 已允许 | "
                  "button:去设置",
                  "  输入监控 | 全局监听并吞掉触发键 | label:✅ 已允许 | button:去设置",
                  "  麦克风 | 录音转写 | label:✅ 已允许 | button:去设置",
                  "  button:刷新状态",
                  "  note: 改完权限后需退出 Vurin 再重开一次才生效。",
              }));
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
    EXPECT_EQ(shell->policies.back(), ActivationPolicy::accessory);
    permissionTexts.inputMonitoring = "❌ 未允许";
    queue->advance(3.0);
    EXPECT_EQ(view->shownText(kSettingsInputStatusId), "✅ 已允许");
}

TEST_F(SettingsWindow, TabSelectionScrollsUpAndRefreshesPermissionsAndHealth) {
    settingsController->showSettings();
    permissionTexts.accessibility = "❌ 未允许";
    window()->model.tabs->onSelect(2);
    EXPECT_EQ(window()->scrollsToTop, 2);
    EXPECT_EQ(window()->shownText(kSettingsAxStatusId), "✅ 已允许");
    window()->model.tabs->onSelect(3);
    EXPECT_EQ(window()->shownText(kSettingsAxStatusId), "❌ 未允许");
    EXPECT_EQ(window()->texts.count(kSettingsHealthLabelId), 1U);
}

TEST_F(SettingsWindow, TheNotConfiguredDialogOpensTheSpeechTab) {
    shell->alertResponse = kAlertFirstButtonReturn;
    controller->warnNotConfigured();
    ASSERT_NE(window(), nullptr);
    EXPECT_EQ(window()->selectedTab(), 1);
    EXPECT_EQ(window()->scrollsToTop, 2);
}

TEST_F(SettingsWindow, ControlsCallTheirOperations) {
    settingsController->showSettings();
    auto* view = window();
    ASSERT_TRUE(view->press("重新识别"));
    rowControl<Switch>(0, "单击发送")->action(false);
    EXPECT_FALSE(controller->config().sendOnClick);
    rowControl<Switch>(0, "保存全文到历史")->action(true);
    EXPECT_TRUE(controller->config().saveTextHistory);
    rowControl<Slider>(0, "提示音音量")->onRelease(0.5);
    EXPECT_EQ(controller->config().soundVolume, 0.5);
    EXPECT_EQ(view->shownText(kSettingsVolumeLabelId), "50%");
    rowControl<Switch>(0, "登录时启动")->action(true);
    EXPECT_EQ(loginItem->calls, Lines{"register"});
    EXPECT_TRUE(view->switches[kSettingsLaunchAtLoginSwitchId]);
    rowControl<Switch>(0, "检查更新")->action(false);
    EXPECT_FALSE(controller->config().autoCheckUpdates);
    ASSERT_TRUE(view->press("立即检查"));
    EXPECT_EQ(updates->timeouts.size(), 1U);
    ASSERT_TRUE(view->press("写邮件"));
    EXPECT_EQ(openedURLs.size(), 1U);
    for (const char* open : {"去设置"}) {
        ASSERT_TRUE(view->press(open));
    }
    rowControl<SegmentedControl>(1, "识别语言")->action(2);
    EXPECT_EQ(controller->config().sttLanguage, "en");
    rowControl<SegmentedControl>(2, "润色引擎")->action(0);
    EXPECT_EQ(controller->config().polishProvider, "cloud");
    rowControl<PopUpButton>(2, "服务商")->action(1);
    EXPECT_EQ(controller->config().polishCloudProvider, "openai");
    EXPECT_EQ(rowControl<PopUpButton>(2, "服务商")->selected, 1);  // the pane was rebuilt
    EXPECT_EQ(hookCalls, (Lines{"detect", "ax"}));
    setSoundVolume(0.3F);
}

TEST_F(SettingsWindow, DetectedKeyIsShownInTheOpenWindow) {
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

TEST_F(SettingsWindow, ActionsOfAClosedWindowDoNothingOnceTheControllerIsGone) {
    settingsController->showSettings();
    auto view = windows->last();
    controller.reset();
    settingsController.reset();
    EXPECT_TRUE(view->press("立即检查"));  // held weakly: nothing runs, nothing crashes
    view->model.tabs->onSelect(3);
    EXPECT_TRUE(shell->alerts.empty());
}

}  // namespace
}  // namespace vurin::testing
