#include "app/permission_onboarding.h"

#include <utility>

#include "audio/capture_source_choice.h"
#include "config/config.h"
#include "input/key_code_map.h"
#include "support/language.h"
#include "support/log.h"

namespace vurin {
namespace {

constexpr double kPollInterval = 1.0;
constexpr int kStatusLabelWidth = 120;
constexpr int kRowButtonWidth = 92;

const char* microphoneLogMark(MicrophoneAccess access) {
    switch (access) {
        case MicrophoneAccess::authorized:
            return "✅";
        case MicrophoneAccess::muted:
            return "❌已静音";
        case MicrophoneAccess::noInputSource:
            return "❌无输入设备";
        case MicrophoneAccess::noSoundServer:
            return "❌无声音服务";
    }
    return "?";
}

std::string destinationName(SettingsDestination destination, const std::string& desktop) {
    switch (destination) {
        case SettingsDestination::desktopPanel:
            return L(desktop + " 设置", desktop + " Settings");
        case SettingsDestination::soundMixer:
            return "pavucontrol";
        case SettingsDestination::helpPage:
            break;
    }
    return L("帮助页", "help page");
}

std::string section(std::string_view zhTitle, std::string_view enTitle, std::string_view zhBody,
                    std::string_view enBody) {
    return "<h2>" + L(zhTitle, enTitle) + "</h2>\n<p>" + L(zhBody, enBody) + "</p>\n";
}

// XTest and the key grab of an X11 session.
std::string x11HelpSections() {
    std::string page;
    page += section(
        "辅助功能", "Accessibility",
        "Vurin 通过 X 服务器的 XTest 扩展合成 Ctrl+V / Return。桌面的 X 服务器(Xorg)自带 "
        "XTest;若显示“缺少 XTest”,说明当前会话的 X 服务器没有启用它,请换用普通的 X11 "
        "桌面会话。读取焦点文字还需要无障碍总线(AT-SPI):安装 at-spi2-core,并在桌面的辅助功能"
        "设置里打开辅助技术支持。",
        "Vurin synthesizes Ctrl+V / Return through the X server's XTest extension. Desktop X "
        "servers (Xorg) include it; \"No XTest\" means this session's X server runs without it, "
        "so use a regular X11 desktop session. Reading the focused text also needs the "
        "accessibility bus (AT-SPI): install at-spi2-core and turn on assistive technology "
        "support in your desktop's accessibility settings.");
    page += section(
        "输入监控", "Input Monitoring",
        "Vurin 在 X 服务器上独占触发键,这样按键不会传给其他程序。若显示“被占用”,说明另一个"
        "程序(常见的是桌面的全局快捷键)已经占用了这个键:在桌面的键盘快捷键设置里释放它,或换"
        "一个触发键。“无此按键”说明设置里的触发键在这台电脑的键盘上不存在(例如 Mac 的 "
        "Fn),请换一个。换键:Vurin 的托盘菜单(没有托盘时是 Vurin 的窗口)→ 设置… → 通用 → "
        "重新识别,然后按下想用的键。",
        "Vurin takes the trigger key for itself on the X server, so the key never reaches other "
        "programs. \"Key in use\" means another program (often a global shortcut of the "
        "desktop) holds that key: free it in your desktop's keyboard shortcut settings, or "
        "choose another trigger key. \"No such key\" means the configured key does not exist "
        "on this keyboard (a Mac's Fn, say): choose another. To choose: Vurin's tray menu (without "
        "a "
        "tray, Vurin's window) → Settings… → General → Set key, then press the key you want.");
    return page;
}

// The help page for desktops without a settings panel for a grant. Plain, self-contained HTML.
std::string helpPageDocument(const std::optional<WaylandPermissionHelp>& wayland) {
    std::string page = "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>" +
                       L("Vurin 权限设置", "Vurin Permissions") +
                       "</title></head>\n<body style=\"font-family:sans-serif;max-width:40em;"
                       "margin:2em auto;line-height:1.5\">\n<h1>" +
                       L("Vurin 权限设置", "Vurin Permissions") + "</h1>\n";
    page += wayland ? waylandHelpSections(*wayland) : x11HelpSections();
    page += section(
        "麦克风", "Microphone",
        "Vurin 通过 PulseAudio 或 PipeWire(pipewire-pulse)录音。“无声音服务”:启动声音服务,"
        "例如 <code>systemctl --user start pipewire-pulse</code> 或 <code>pulseaudio "
        "--start</code>。“无麦克风”:接上麦克风。“已静音”:在声音设置或 pavucontrol 的"
        "“输入设备”里取消静音,或运行 <code>pactl set-source-mute @DEFAULT_SOURCE@ 0</code>。",
        "Vurin records through PulseAudio or PipeWire (pipewire-pulse). \"No sound server\": "
        "start it, for example <code>systemctl --user start pipewire-pulse</code> or "
        "<code>pulseaudio --start</code>. \"No microphone\": connect one. \"Muted\": unmute it "
        "in your sound settings or in pavucontrol's Input Devices tab, or run <code>pactl "
        "set-source-mute @DEFAULT_SOURCE@ 0</code>.");
    page += "<p>" +
            L("改好后 Vurin 的权限窗口会在一秒内自动刷新。",
              "Vurin's permission window picks up the change within a second.") +
            "</p>\n</body></html>\n";
    return page;
}

}  // namespace

MicrophoneAccess microphoneAccess(const AudioSourceList& sources, bool useBuiltInMic) {
    if (sources.status != AudioServerStatus::ok) {
        return MicrophoneAccess::noSoundServer;
    }
    const CaptureSourceChoice choice = chooseCaptureSource(sources, useBuiltInMic);
    // With no microphone the server makes a speaker's monitor the default source; recording it
    // would capture what the computer plays, not the user.
    if (!choice.source || choice.source->isMonitor) {
        return MicrophoneAccess::noInputSource;
    }
    return choice.source->muted ? MicrophoneAccess::muted : MicrophoneAccess::authorized;
}

std::string accessibilityStatusText(SyntheticInputAccess access) {
    switch (access) {
        case SyntheticInputAccess::granted:
            return L("✅ 已允许", "✅ Allowed");
        case SyntheticInputAccess::noDisplay:
            return L("❌ 无 X11 显示", "❌ No X11 display");
        case SyntheticInputAccess::noSyntheticInput:
            return L("❌ 缺少 XTest", "❌ No XTest");
        case SyntheticInputAccess::noKeystrokePath:
            return L("❌ 无按键注入途径", "❌ No keystroke path");
        case SyntheticInputAccess::declined:
            return L("❌ 已拒绝", "❌ Declined");
    }
    return "❓";
}

std::string inputMonitoringStatusText(KeyGrabAccess access) {
    switch (access) {
        case KeyGrabAccess::granted:
            return L("✅ 已允许", "✅ Allowed");
        case KeyGrabAccess::taken:
            return L("❌ 被占用", "❌ Key in use");
        case KeyGrabAccess::noDisplay:
            return L("❌ 无 X11 显示", "❌ No X11 display");
        case KeyGrabAccess::noSuchKey:
            return L("❌ 无此按键", "❌ No such key");
        case KeyGrabAccess::bindingOnly:
            return L("⚠️ 待合成器绑定", "⚠️ Bind it in the compositor");
        case KeyGrabAccess::noTriggerSource:
            return L("❌ 无触发来源", "❌ No trigger source");
    }
    return "❓";
}

// A Wayland session without a keystroke path (none offered, or the consent declined) still
// records and transcribes: the paste then says what is missing, so the trigger is not held back
// for it.
bool accessibilityAllowsInput(SyntheticInputAccess access) {
    return access == SyntheticInputAccess::granted ||
           access == SyntheticInputAccess::noKeystrokePath ||
           access == SyntheticInputAccess::declined;
}

// A compositor binding cannot be seen before its first press: the capture starts and waits.
bool triggerAllowsInput(KeyGrabAccess access) {
    return access == KeyGrabAccess::granted || access == KeyGrabAccess::bindingOnly;
}

namespace {

// A binding that has not pressed yet may well work: neither granted nor refused.
const char* inputLogMark(KeyGrabAccess access) {
    if (access == KeyGrabAccess::bindingOnly) {
        return "⚠️";
    }
    return access == KeyGrabAccess::granted ? "✅" : "❌";
}

}  // namespace

std::string microphoneStatusText(MicrophoneAccess access) {
    switch (access) {
        case MicrophoneAccess::authorized:
            return L("✅ 已允许", "✅ Allowed");
        case MicrophoneAccess::muted:
            return L("❌ 已静音", "❌ Muted");
        case MicrophoneAccess::noInputSource:
            return L("❌ 无麦克风", "❌ No microphone");
        case MicrophoneAccess::noSoundServer:
            return L("❌ 无声音服务", "❌ No sound server");
    }
    return "❓";
}

std::shared_ptr<PermissionOnboarding> PermissionOnboarding::create(Services services) {
    return std::shared_ptr<PermissionOnboarding>(new PermissionOnboarding(std::move(services)));
}

PermissionOnboarding::PermissionOnboarding(Services services) : services_(std::move(services)) {}

SyntheticInputAccess PermissionOnboarding::readAccessibility() {
    return services_.probe->syntheticInput();
}

KeyGrabAccess PermissionOnboarding::readInputMonitoring() {
    // Our own capture holding the key is the grant; a trial grab would only collide with it.
    if (hooks_.triggerCaptureRunning && hooks_.triggerCaptureRunning()) {
        return KeyGrabAccess::granted;
    }
    const Config* config = hooks_.config ? hooks_.config() : nullptr;
    const auto evdevCode = evdevCodeForKeyCode(config ? config->keyCode : Config{}.keyCode);
    if (!evdevCode) {
        return KeyGrabAccess::noSuchKey;
    }
    return services_.probe->keyGrab(*evdevCode);
}

MicrophoneAccess PermissionOnboarding::readMicrophone() {
    const Config* config = hooks_.config ? hooks_.config() : nullptr;
    const bool useBuiltInMic = (config ? config->micDevice : Config{}.micDevice) == "builtin";
    const MicrophoneAccess access = microphoneAccess(services_.audio->listSources(), useBuiltInMic);
    if (access == MicrophoneAccess::authorized && lastMicrophone_ &&
        *lastMicrophone_ != MicrophoneAccess::authorized) {
        // The recorder chose its source while there was none to choose.
        services_.recorder->warmUp(useBuiltInMic);
    }
    lastMicrophone_ = access;
    return access;
}

void PermissionOnboarding::checkPermissions() {
    const SyntheticInputAccess accessibility = readAccessibility();
    const KeyGrabAccess input = readInputMonitoring();
    const MicrophoneAccess microphone = readMicrophone();
    log(std::string("权限:辅助功能=") +
        (accessibility == SyntheticInputAccess::granted ? "✅" : "❌") +
        "  输入监控=" + inputLogMark(input) + "  麦克风=" + microphoneLogMark(microphone));
    if (!services_.probe->accessibilityBusReachable()) {
        log("⚠️ 无障碍总线(AT-SPI)连不上:粘贴照常,但读不到焦点里的文字");
    }
    if (microphone == MicrophoneAccess::muted) {
        log("⚠️ 麦克风已静音。请在系统的声音设置(或 "
            "pavucontrol)里取消静音");
    }
}

bool PermissionOnboarding::allRequiredPermissionsGranted() {
    if (grantsJustRead_) {
        return true;
    }
    return accessibilityAllowsInput(readAccessibility()) &&
           triggerAllowsInput(readInputMonitoring()) &&
           readMicrophone() == MicrophoneAccess::authorized;
}

PermissionStatusText PermissionOnboarding::permissionStatusText() {
    const SyntheticInputAccess accessibility = readAccessibility();
    const KeyGrabAccess input = readInputMonitoring();
    const MicrophoneAccess microphone = readMicrophone();
    return PermissionStatusText{.accessibility = accessibilityStatusText(accessibility),
                                .inputMonitoring = inputMonitoringStatusText(input),
                                .microphone = microphoneStatusText(microphone),
                                .allGranted = accessibilityAllowsInput(accessibility) &&
                                              triggerAllowsInput(input) &&
                                              microphone == MicrophoneAccess::authorized};
}

std::string PermissionOnboarding::settingsDestinationNote() const {
    const DesktopSettings& settings = *services_.desktopSettings;
    const std::string desktop = settings.desktopName();
    const auto where = [&](SettingsPage page) {
        return destinationName(settings.destination(page), desktop);
    };
    return L("「去设置」:辅助功能 → " + where(SettingsPage::accessibility) + ",输入监控 → " +
                 where(SettingsPage::inputMonitoring) + ",麦克风 → " +
                 where(SettingsPage::microphone) + "。",
             "“Open”: Accessibility → " + where(SettingsPage::accessibility) +
                 ", Input Monitoring → " + where(SettingsPage::inputMonitoring) +
                 ", Microphone → " + where(SettingsPage::microphone) + ".");
}

WindowModel PermissionOnboarding::buildPermissionWindow() {
    const std::weak_ptr<PermissionOnboarding> weak = weak_from_this();
    const auto action = [weak](void (PermissionOnboarding::*method)()) {
        return [weak, method] {
            if (auto self = weak.lock()) {
                (self.get()->*method)();
            }
        };
    };
    const auto row = [&](std::string name, std::string purpose, const char* statusId,
                         void (PermissionOnboarding::*request)()) {
        return RowBlock{
            .title = std::move(name),
            .subtitle = std::move(purpose),
            .trailing = {makeLabel(
                             {}, {.alignment = TextAlignment::trailing, .width = kStatusLabelWidth},
                             statusId),
                         makeButton(L("去设置", "Open"), action(request), kRowButtonWidth)},
            .spacing = 12,
            .boldTitle = true};
    };

    Card content{.framed = false, .spacing = 14};
    content.blocks.push_back(ControlRowBlock{
        .controls = {makeLabel(L("需要 3 个权限才能监听按键、录音并粘贴指令",
                                 "Vurin needs 3 permissions to listen for the key, record, and "
                                 "paste"),
                               {.pointSize = 16, .bold = true, .wraps = true})}});
    content.blocks.push_back(NoteBlock{
        .text = L("按顺序点击下面按钮。授权后这里会自动刷新,全部通过后即可开始使用。",
                  "Click each button below. Status refreshes automatically; start once all are "
                  "allowed."),
        .pointSize = 13});
    const bool wayland = services_.wayland.has_value();
    content.blocks.push_back(row(L("辅助功能", "Accessibility"),
                                 L("用于合成 Ctrl+V / Return", "To synthesize Ctrl+V / Return"),
                                 kAccessibilityStatusId,
                                 &PermissionOnboarding::requestAccessibilityPermission));
    // On Wayland the desktop or the keyboard device delivers the key; Vurin swallows nothing.
    content.blocks.push_back(
        row(L("输入监控", "Input Monitoring"),
            wayland ? L("用于全局监听触发键", "To listen for the trigger key globally")
                    : L("用于全局监听触发键并吞掉事件", "To listen for the trigger key globally"),
            kInputStatusId, &PermissionOnboarding::requestInputMonitoringPermission));
    content.blocks.push_back(row(
        L("麦克风", "Microphone"), L("用于录音并转写成指令", "To record and transcribe your voice"),
        kMicrophoneStatusId, &PermissionOnboarding::requestMicrophonePermission));
    Control continueButton = makeButton(L("等待授权完成", "Waiting for permissions"),
                                        action(&PermissionOnboarding::closePermissionWindowIfReady),
                                        0, kContinueButtonId);
    std::get<Button>(continueButton.kind).enabled = false;
    std::get<Button>(continueButton.kind).isDefault = true;
    content.blocks.push_back(ControlRowBlock{
        .controls = {makeButton(L("刷新状态", "Refresh"),
                                action(&PermissionOnboarding::refreshPermissionStatusButton)),
                     std::move(continueButton)},
        .spacing = 10});
    content.blocks.push_back(NoteBlock{
        .text = settingsDestinationNote(), .colour = ColourRole::tertiary, .pointSize = 11});
    if (wayland) {
        const WaylandPermissionHelp& help = *services_.wayland;
        content.blocks.push_back(NoteBlock{
            .text = waylandKeystrokeNote(help),
            .colour = waylandKeystrokesUsable(help) ? ColourRole::tertiary : ColourRole::orange,
            .pointSize = 11,
            .id = kKeystrokeNoteId});
        content.blocks.push_back(NoteBlock{.text = waylandTriggerModeNote(help),
                                           .colour = ColourRole::tertiary,
                                           .pointSize = 11,
                                           .id = kTriggerModeNoteId});
    }
    content.blocks.push_back(
        NoteBlock{.colour = ColourRole::orange, .pointSize = 11, .id = kAccessibilityBusNoteId});

    Pane pane{.spacing = 14, .margins = {22, 24, 22, 24}};
    pane.cards.push_back(std::move(content));
    WindowModel window{.title = L("Vurin 权限设置", "Vurin Permissions"),
                       .width = 520,
                       .height = wayland ? 440 : 360,
                       .scrollable = false};
    window.panes.push_back(std::move(pane));
    return window;
}

void PermissionOnboarding::showPermissionOnboarding() {
    if (permissionWindow_) {
        permissionWindow_->raise();
        services_.shell->activateIgnoringOtherApps();
        refreshPermissionWindow();
        return;
    }
    services_.shell->setActivationPolicy(ActivationPolicy::regular);
    permissionWindow_ = services_.windows->open(buildPermissionWindow());
    refreshPermissionWindow();
    if (permissionWindow_) {
        permissionWindow_->raise();
    }
    services_.shell->activateIgnoringOtherApps();
    if (permissionTimer_) {
        permissionTimer_->invalidate();
    }
    permissionTimer_ = services_.mainQueue->scheduleRepeating(
        kPollInterval, [weak = std::weak_ptr<PermissionOnboarding>(weak_from_this())] {
            if (auto self = weak.lock()) {
                self->refreshPermissionWindow();
            }
        });
}

void PermissionOnboarding::refreshPermissionWindow() {
    const PermissionStatusText texts = permissionStatusText();
    if (const std::shared_ptr<WindowView> window = permissionWindow_) {
        window->setText(kAccessibilityStatusId, texts.accessibility);
        window->setText(kInputStatusId, texts.inputMonitoring);
        window->setText(kMicrophoneStatusId, texts.microphone);
        window->setEnabled(kContinueButtonId, texts.allGranted);
        window->setText(kContinueButtonId, texts.allGranted
                                               ? L("开始使用 Vurin", "Start using Vurin")
                                               : L("等待授权完成", "Waiting for permissions"));
        window->setText(
            kAccessibilityBusNoteId,
            services_.probe->accessibilityBusReachable()
                ? std::string()
                : L("⚠️ "
                    "无障碍总线(AT-SPI)连不上:粘贴照常,但读不到焦点里的文字。",
                    "⚠️ The accessibility bus (AT-SPI) is not reachable: pasting works, but "
                    "the focused text cannot be read."));
        // The portal's consent dialog may be answered while the window is open.
        if (const auto& help = services_.wayland) {
            window->setText(kKeystrokeNoteId, waylandKeystrokeNote(*help));
            window->setText(kTriggerModeNoteId, waylandTriggerModeNote(*help));
            window->setColour(kKeystrokeNoteId, waylandKeystrokesUsable(*help)
                                                    ? ColourRole::tertiary
                                                    : ColourRole::orange);
        }
    }
    // A window closed with its own button has nothing left to wait for once input runs.
    if (texts.allGranted && finishInputSetup() && permissionWindow_ &&
        !permissionWindow_->isVisible()) {
        finishOnboarding();
    }
}

bool PermissionOnboarding::finishInputSetup() {
    // Input setup checks the grants again; they were read a moment ago, and each reading opens
    // display connections, tries a grab and lists the sound server's sources.
    grantsJustRead_ = true;
    const bool running = hooks_.finishInputSetup && hooks_.finishInputSetup();
    grantsJustRead_ = false;
    return running;
}

void PermissionOnboarding::closePermissionWindowIfReady() {
    if (!allRequiredPermissionsGranted()) {
        return;
    }
    if (!finishInputSetup()) {
        services_.shell->runModalAlert(AlertSpec{
            .messageText = L("需要重新打开 Vurin", "Reopen Vurin to finish"),
            .informativeText =
                L("权限已经齐全,但按键监听没能启动(触发键可能刚被其他程序占用)。请退出 Vurin "
                  "后重新打开一次。",
                  "All permissions are enabled, but keyboard monitoring could not start "
                  "(another program may have just taken the trigger key). Quit and reopen "
                  "Vurin once.")});
        return;
    }
    finishOnboarding();
}

void PermissionOnboarding::finishOnboarding() {
    if (permissionTimer_) {
        permissionTimer_->invalidate();
        permissionTimer_.reset();
    }
    if (auto window = std::exchange(permissionWindow_, nullptr)) {
        window->close();
    }
    services_.shell->setActivationPolicy(ActivationPolicy::accessory);
    log("✅ 权限已就绪");
}

void PermissionOnboarding::requestAccessibilityPermission() {
    openSettings(SettingsPage::accessibility);
}

void PermissionOnboarding::requestInputMonitoringPermission() {
    openSettings(SettingsPage::inputMonitoring);
}

void PermissionOnboarding::requestMicrophonePermission() {
    // A sound server asks nobody for permission: the user fixes what is missing (server, device,
    // mute) in the sound settings, and the poll sees the result.
    openSettings(SettingsPage::microphone);
}

void PermissionOnboarding::openSettings(SettingsPage page) {
    DesktopSettings& settings = *services_.desktopSettings;
    const SettingsDestination destination = settings.destination(page);
    if (destination == SettingsDestination::helpPage && !writeHelpPage()) {
        log("❌ 写不出帮助页:" + services_.helpPage.string());
        return;
    }
    if (!settings.open(page, services_.helpPage)) {
        log("❌ 打不开设置程序,请手动打开桌面的设置");
    }
}

bool PermissionOnboarding::writeHelpPage() const {
    if (services_.helpPage.empty()) {
        return false;
    }
    const std::filesystem::path folder = services_.helpPage.parent_path();
    std::error_code error;
    if (!std::filesystem::exists(folder, error)) {
        // Usually the configuration folder, which only its owner may read.
        std::filesystem::create_directories(folder, error);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    }
    return writeFilePrivateAtomically(services_.helpPage, helpPageDocument(services_.wayland));
}

}  // namespace vurin
