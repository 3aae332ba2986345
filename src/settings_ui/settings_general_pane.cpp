#include "app/app_controller.h"
#include "config/config.h"
#include "settings_ui/deployment_settings.h"
#include "settings_ui/latency_chart.h"
#include "settings_ui/settings_controller.h"
#include "settings_ui/settings_window_model.h"
#include "support/language.h"
#include "support/runtime_metadata.h"

namespace vurin {

using namespace settings_model;

namespace {

constexpr int kStatusLabelWidth = 108;

TextStyle elidedSecondaryText() {
    TextStyle style = secondaryText();
    style.elides = true;
    return style;
}

std::vector<std::string> languageSegments() {
    return {L("自动", "Auto"), "中文", "English"};
}

std::string aboutLine() {
    const auto& metadata = runtimeMetadata();
    std::string line = "Version " + metadata.appVersion;
    if (!metadata.appBuild.empty()) {
        line += " (" + metadata.appBuild + ")";
    }
    return line + " · " + std::string(kSupportEmailAddress);
}

// Below the trigger row on Wayland: the lines that let sway or Hyprland deliver the key, as
// text the user can select and copy into the compositor's configuration.
void appendBindingLines(std::vector<CardBlock>& blocks, const CompositorBindingLines& lines) {
    std::string text;
    for (const auto* set : {&lines.sway, &lines.hyprland}) {
        for (const std::string& line : *set) {
            text += (text.empty() ? "" : "\n") + line;
        }
    }
    if (text.empty()) {
        return;
    }
    blocks.push_back(
        note(L("sway 或 Hyprland:把下面的行加进合成器的配置,按下和松开时会运行 "
               "vurin --trigger(前两行给 sway,后两行给 Hyprland)。",
               "sway or Hyprland: add these lines to the compositor's "
               "configuration; it then runs vurin --trigger on press and release "
               "(the first two for sway, the last two for Hyprland).")));
    TextStyle style = secondaryText(11);
    style.monospaced = true;
    style.selectable = true;
    style.wraps = true;
    blocks.push_back(ControlRowBlock{.controls = {makeLabel(std::move(text), style)}});
}

}  // namespace

std::string SettingsController::launchAtLoginSubtitle(LoginItemStatus status) const {
    return status == LoginItemStatus::requiresApproval
               ? L("已登记,需在桌面设置的“自动启动”中批准",
                   "Registered — approve under Autostart in your desktop settings")
               : L("由桌面的自动启动管理(~/.config/autostart)",
                   "Managed by the desktop's autostart (~/.config/autostart)");
}

WindowModel SettingsController::buildSettingsWindow() {
    WindowModel model;
    model.title = L("Vurin 设置", "Vurin Settings");
    model.width = 560;
    model.height = 732;
    const int selected = services_.permissions->allRequiredPermissionsGranted()
                             ? static_cast<int>(SettingsTab::general)
                             : static_cast<int>(SettingsTab::permissions);
    model.tabs = TabBar{.titles = {L("通用", "General"), L("语音识别", "Speech"),
                                   L("文本润色", "Polish"), L("权限", "Permissions")},
                        .selected = selected,
                        .onSelect = weakAction(&SettingsController::settingsTabChanged)};
    model.header = Card{
        .blocks = {ControlRowBlock{
            .controls = {Control{kSettingsHealthDotId,
                                 StatusDot{.colour = healthDotColour() == HealthDotColour::green
                                                         ? ColourRole::green
                                                         : ColourRole::orange}},
                         makeLabel(settingsHealthSummaryText(), elidedSecondaryText(),
                                   kSettingsHealthLabelId)},
            .spacing = 8}}};
    model.banner = statusPanel_;
    settingsProviderFields_.clear();
    model.panes = {buildGeneralPane(), buildSTTPane(), buildPolishPane(), buildPermissionsPane()};
    model.onClose = weakAction(&SettingsController::windowWillClose);
    return model;
}

Pane SettingsController::buildGeneralPane() {
    auto app = controller();
    const Config config = app ? app->config() : Config{};
    auto appAction = [weak = controller_](void (AppController::*action)()) {
        return [weak, action](bool) {
            if (auto live = weak.lock()) {
                ((*live).*action)();
            }
        };
    };
    const std::string keyName = services_.triggerKeyLabel ? services_.triggerKeyLabel()
                                : services_.triggerKeyDisplayName
                                    ? services_.triggerKeyDisplayName(config.keyCode)
                                    : std::to_string(config.keyCode);
    Control detect = makeButton(L("重新识别", "Set key"), [detect = services_.startDetectKey] {
        if (detect) {
            detect();
        }
    });
    std::get<Button>(detect.kind).enabled = static_cast<bool>(services_.startDetectKey);

    std::vector<CardBlock> triggerBlocks = {
        row(L("触发键", "Trigger key"), L("长按说话 · 单击发送", "Hold to talk · click to send"),
            {makeLabel(keyName, TextStyle{.monospaced = true}, kSettingsTriggerKeyLabelId),
             std::move(detect)})};
    if (services_.gnomeShortcuts && services_.offerGnomeShortcuts &&
        services_.offerGnomeShortcuts()) {
        appendGnomeShortcuts(triggerBlocks);
    } else if (services_.compositorBindingLines) {
        appendBindingLines(triggerBlocks, services_.compositorBindingLines());
    }

    Pane pane;
    triggerBlocks.insert(
        triggerBlocks.end(),
        {row(L("单击发送", "Send on click"),
             L("松手后单击合成回车", "A click after release synthesizes Return"),
             {makeSwitch(config.sendOnClick, appAction(&AppController::toggleSendOnClick))}),
         row(L("保存全文到历史", "Save full text in history"),
             L("默认只留延迟等指标,关闭更私密", "Off keeps only metrics — more private"),
             {makeSwitch(config.saveTextHistory,
                         appAction(&AppController::toggleSaveTextHistory))}),
         row(L("历史数据", "History data"),
             L("清除本机已保存的指标和全文", "Delete saved metrics and text on this computer"),
             {makeButton(L("清除历史…", "Clear…"),
                         weakAction(&SettingsController::clearHistoryData))})});
    pane.cards.push_back(card("keyboard", L("触发键 · 交互", "Trigger key · Interaction"),
                              std::move(triggerBlocks)));

    pane.cards.push_back(card(
        "mic", L("录音与提示音", "Recording & Sound"),
        {row(L("麦克风", "Microphone"),
             L("内置不会把蓝牙耳机切到通话模式", "Keeps Bluetooth out of call mode"),
             {segments({L("内置", "Built-in"), L("系统默认", "System")},
                       segmentFor(kMicDeviceSegments, config.micDevice),
                       weakAction(&SettingsController::micDeviceSegChanged))}),
         row(L("提示音音量", "Alert volume"),
             L("拖到最左静音;蓝牙耳机下只能在这里调",
               "Drag left to mute; the only control for Bluetooth"),
             {Control{{},
                      Slider{.minimum = 0.0,
                             .maximum = 1.0,
                             .value = config.soundVolume,
                             .width = 140,
                             .onRelease = weakAction(&SettingsController::soundVolumeChanged)}},
              makeLabel(soundVolumeLabelText(config.soundVolume),
                        TextStyle{.alignment = TextAlignment::trailing, .width = 44},
                        kSettingsVolumeLabelId)})}));

    const auto login = services_.loginItem->status();
    RowBlock launch = row(
        L("登录时启动", "Launch at login"), launchAtLoginSubtitle(login),
        {makeSwitch(login == LoginItemStatus::enabled || login == LoginItemStatus::requiresApproval,
                    weakAction(&SettingsController::launchAtLoginChanged),
                    kSettingsLaunchAtLoginSwitchId)});
    launch.subtitleId = kSettingsLaunchAtLoginSubtitleId;
    pane.cards.push_back(
        card("gearshape", L("启动 · 语言 · 关于", "Startup · Language · About"),
             {std::move(launch),
              row(L("界面语言", "Display language"), std::nullopt,
                  {segments(languageSegments(), segmentFor(kUILanguageSegments, config.uiLang),
                            weakAction(&SettingsController::uiLangSegChanged))}),
              row(L("检查更新", "Check for updates"),
                  L("启动时静默查官网版本号,有新版才提示(只查版本、不带数据)",
                    "Silently checks the site's version on launch; prompts only if newer (version "
                    "only, no data)"),
                  {makeSwitch(config.autoCheckUpdates,
                              weakAction(&SettingsController::autoCheckUpdatesChanged))}),
              row(L("关于 Vurin", "About Vurin"), aboutLine(),
                  {makeButton(L("立即检查", "Check now"),
                              weakAction(&SettingsController::checkForUpdatesMenu))}),
              row(L("联系支持", "Support"), std::nullopt,
                  {makeButton(L("写邮件", "Email"),
                              weakAction(&SettingsController::contactSupport))})}));
    pane.cards.push_back(latencyCard(recentLatencyRecords(historyURL(), kLatencyChartDictations)));
    return pane;
}

Pane SettingsController::buildPermissionsPane() {
    const PermissionStatusText status =
        services_.permissionStatusText ? services_.permissionStatusText() : PermissionStatusText{};
    auto statusLabel = [](const std::string& text, const char* id) {
        return makeLabel(
            text, TextStyle{.alignment = TextAlignment::trailing, .width = kStatusLabelWidth}, id);
    };
    auto request = [](const std::function<void()>& hook) {
        return [hook] {
            if (hook) {
                hook();
            }
        };
    };
    std::vector<CardBlock> blocks;
    if (!services_.permissions->allRequiredPermissionsGranted()) {
        blocks.push_back(
            note(L("⚠️ 缺少必要权限,Vurin "
                   "还无法工作。开启下面三项后,退出重开一次生效。",
                   "⚠️ Missing permissions — Vurin can't work yet. Turn all three "
                   "on, then quit & reopen."),
                 ColourRole::orange));
    }
    blocks.push_back(
        row(L("辅助功能", "Accessibility"),
            L("合成 Ctrl+V / 回车,并读取焦点", "Synthesize Ctrl+V / Return, read focus"),
            {statusLabel(status.accessibility, kSettingsAxStatusId),
             makeButton(L("去设置", "Open"), request(services_.requestAccessibilityPermission))}));
    blocks.push_back(row(
        L("输入监控", "Input Monitoring"),
        L("全局监听并吞掉触发键", "Listen for and swallow the trigger key"),
        {statusLabel(status.inputMonitoring, kSettingsInputStatusId),
         makeButton(L("去设置", "Open"), request(services_.requestInputMonitoringPermission))}));
    blocks.push_back(
        row(L("麦克风", "Microphone"), L("录音转写", "Record and transcribe"),
            {statusLabel(status.microphone, kSettingsMicStatusId),
             makeButton(L("去设置", "Open"), request(services_.requestMicrophonePermission))}));
    blocks.push_back(
        ControlRowBlock{.controls = {makeButton(
                            L("刷新状态", "Refresh status"),
                            weakAction(&SettingsController::refreshSettingsPermissionStatus))}});
    blocks.push_back(note(L("改完权限后需退出 Vurin 再重开一次才生效。",
                            "After changing permissions, quit and reopen Vurin once.")));
    Pane pane;
    pane.cards.push_back(card("lock.shield", L("权限", "Permissions"), std::move(blocks)));
    return pane;
}

}  // namespace vurin
