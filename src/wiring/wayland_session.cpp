#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "input/wayland_trigger_capture.h"
#include "platform/linux/evdev_keyboard_watch.h"
#include "platform/linux/evdev_keyboards.h"
#include "platform/linux/global_shortcuts_portal.h"
#include "platform/linux/gnome_custom_shortcuts.h"
#include "platform/linux/portal_probe.h"
#include "platform/linux/xkb_key_names.h"
#include "platform/wayland/data_control_clipboard.h"
#include "platform/wayland/focus_reader_wayland.h"
#include "platform/wayland/permission_probe_wayland.h"
#include "platform/wayland/wayland_globals.h"
#include "platform/wayland/wayland_keystrokes.h"
#include "support/executable.h"
#include "support/log.h"
#include "wiring/session_platform.h"

namespace vurin {

namespace {

std::string mark(bool found) {
    return found ? " ✅" : " ❌";
}

// The program as a compositor binding must name it: the bare name when the shell finds this
// very program by it, else its full path.
std::string programForBindings() {
    std::error_code error;
    const std::filesystem::path self = vurinCommand();
    if (self.empty()) {
        return "vurin";
    }
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
        const auto end = rest.find(':');
        const std::filesystem::path candidate =
            std::filesystem::path(rest.substr(0, end)) / self.filename();
        if (std::filesystem::equivalent(candidate, self, error)) {
            return self.filename().string();
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return self.string();
}

WaylandKeystrokePaths keystrokePaths(const WaylandGlobals& globals) {
    const std::optional<unsigned> remoteDesktop = remoteDesktopDeviceTypes();
    return {.virtualKeyboard = globals.offers("zwp_virtual_keyboard_manager_v1"),
            .remoteDesktopPortal = remoteDesktop && (*remoteDesktop & 1U) != 0,
            .uinputWritable = uinputWritable()};
}

// GNOME's settings daemon runs its custom shortcuts on the press only; other desktops that
// install its schema (for their GNOME programs) do not run them at all.
bool desktopIsGnome() {
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    std::string_view rest = desktops ? desktops : "";
    while (!rest.empty()) {
        const auto end = rest.find(':');
        if (rest.substr(0, end) == "GNOME") {
            return true;
        }
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return false;
}

std::shared_ptr<GnomeTriggerShortcuts> gnomeShortcuts(const std::string& program) {
    if (!desktopIsGnome()) {
        return nullptr;
    }
    std::string why;
    auto store = GnomeCustomShortcuts::open(&why);
    if (!store) {
        log("⚠️ GNOME 自定义快捷键不可用:" + why);
        return nullptr;
    }
    return std::make_shared<GnomeTriggerShortcuts>(std::move(store), program);
}

std::string clipboardPath(const DataControlClipboard* clipboard, const std::string& why) {
    if (clipboard == nullptr) {
        return why + ":文字逐字输入,剪贴板不动";
    }
    return "data-control(" + clipboard->protocol() +
           (clipboard->hasPrimarySelection() ? ",含主选区)" : ",合成器不给主选区)");
}

// The mode the trigger will be used in, as far as start-up can tell, for the start-up line.
std::string expectedTriggerMode(bool globalShortcuts, const GnomeTriggerShortcuts* gnome) {
    using Mode = WaylandTriggerCapture::Mode;
    if (globalShortcuts) {
        return WaylandTriggerCapture::describe(Mode::hold) + "(桌面的全局快捷键报告按下和松开)";
    }
    if (gnome) {
        return WaylandTriggerCapture::describe(Mode::toggle) +
               "(GNOME 的自定义快捷键只在按下时运行命令;Vurin 的快捷键" +
               (gnome->toggleSet() ? "已添加" : "还没添加,在设置窗口里添加") + ")";
    }
    return WaylandTriggerCapture::describe(Mode::hold) +
           "(合成器绑定按下和松开时各运行一次 vurin --trigger)";
}

WaylandKeystrokePath pathForHelp(WaylandKeystrokes::Path path) {
    switch (path) {
        case WaylandKeystrokes::Path::virtualKeyboard:
            return WaylandKeystrokePath::virtualKeyboard;
        case WaylandKeystrokes::Path::remoteDesktop:
            return WaylandKeystrokePath::remoteDesktopPortal;
        case WaylandKeystrokes::Path::uinput:
            return WaylandKeystrokePath::uinput;
        case WaylandKeystrokes::Path::none:
            break;
    }
    return WaylandKeystrokePath::none;
}

}  // namespace

std::optional<SessionPlatform> makeWaylandPlatform(const std::shared_ptr<MainQueue>& mainQueue) {
    std::string error;
    const std::optional<WaylandGlobals> globals = readWaylandGlobals(&error);
    if (!globals) {
        log("❌ " + error);
        return std::nullopt;
    }
    const WaylandKeystrokePaths paths = keystrokePaths(*globals);
    std::string noDataControl;
    const std::shared_ptr<DataControlClipboard> clipboard =
        DataControlClipboard::connect(&noDataControl);
    const std::shared_ptr<WaylandKeystrokes> keystrokes = WaylandKeystrokes::create(paths);
    auto keyboards = std::make_shared<EvdevKeyboardWatch>(
        EvdevKeyboardWatch::Devices{.probe = readableKeyboardName});
    const std::string program = programForBindings();
    const std::shared_ptr<GnomeTriggerShortcuts> gnome = gnomeShortcuts(program);
    auto capture = WaylandTriggerCapture::create(
        mainQueue, {.shortcuts = std::make_shared<GlobalShortcutsPortal>(),
                    .keyboards = keyboards,
                    .keyName = xkbKeyName,
                    .pressOnlyShortcuts = gnome != nullptr,
                    .toggleShortcutSet = [gnome] { return gnome && gnome->toggleSet(); }});
    const std::weak_ptr<WaylandTriggerCapture> weak = capture;
    const char* display = std::getenv("WAYLAND_DISPLAY");
    auto bindingLines = [weak, program] {
        auto live = weak.lock();
        return compositorBindingLines(live ? live->bindingKeyName() : "F13", program);
    };
    SessionPlatform platform{
        .session = DisplaySession::wayland,
        .triggerCapture = capture,
        .probe = std::make_shared<WaylandPermissionProbe>(
            [weak] {
                auto live = weak.lock();
                return live ? live->access() : KeyGrabAccess::noTriggerSource;
            },
            [keystrokes] {
                if (keystrokes->denied()) {
                    return SyntheticInputAccess::declined;
                }
                return keystrokes->path() == WaylandKeystrokes::Path::none
                           ? SyntheticInputAccess::noKeystrokePath
                           : SyntheticInputAccess::granted;
            },
            paths),
        .focus = std::make_shared<WaylandFocusReader>(),
        .keystrokes = keystrokes,
        .clipboardOwnerAnswers = [](ClipboardSelection) { return true; },
        .clipboard = clipboard,
        .typeInsteadOfPaste = clipboard == nullptr,
        .keyName = xkbKeyName,
        .startDetectKey =
            [weak] {
                if (auto live = weak.lock()) {
                    live->startDetectKey();
                }
            },
        // A binding that has not pressed yet is shown as such, not as held.
        .triggerHeld =
            [weak] {
                auto live = weak.lock();
                return live && live->access() == KeyGrabAccess::granted;
            },
        .attach =
            [capture](const std::shared_ptr<AppController>& controller,
                      std::function<void(const std::string&)> setLabel) {
                capture->setEngine(controller->engine());
                capture->setTapKeyCode(controller->config().keyCode);
                capture->setCallbacks({.setTriggerKeyLabel = std::move(setLabel)});
            },
        .bindingEvent =
            [weak](bool down, double at) {
                if (auto live = weak.lock()) {
                    live->bindingEvent(down, at);
                }
            },
        .bindingCommand =
            [weak](TriggerCommand command) {
                if (auto live = weak.lock()) {
                    live->bindingCommandSeen(command);
                }
            },
        .bindingRegistered =
            [weak](bool registered) {
                if (auto live = weak.lock()) {
                    live->setBindingAvailable(registered);
                }
            },
        .permissionHelp =
            WaylandPermissionHelp{
                .offered = paths,
                .bindingLines = bindingLines,
                .pathInUse = [keystrokes] { return pathForHelp(keystrokes->path()); },
                .declined = [keystrokes] { return keystrokes->denied(); },
                .triggerMode =
                    [weak] {
                        auto live = weak.lock();
                        const auto mode = live ? live->mode() : WaylandTriggerCapture::ModeReport{};
                        return std::pair(mode.mode == WaylandTriggerCapture::Mode::toggle,
                                         mode.why);
                    }},
        .triggerKeyLabel =
            [weak] {
                auto live = weak.lock();
                return live ? live->triggerKeyLabel() : std::string();
            },
        .compositorBindingLines = bindingLines,
        .gnomeShortcuts = gnome,
        // Where the desktop's own global shortcuts deliver press and release, those are better.
        .offerGnomeShortcuts =
            [weak] {
                auto live = weak.lock();
                return live && live->activePath() != WaylandTriggerCapture::Path::portal;
            },
        .gnomeKeys =
            [weak] {
                auto live = weak.lock();
                return GnomeTriggerShortcuts::keysFor(live ? live->bindingEvdevCode() : 183,
                                                      xkbKeyName);
            },
        .startupLine =
            std::string("🖥️ 会话:Wayland(WAYLAND_DISPLAY=") + (display ? display : "") +
            ");触发键:全局快捷键门户、键盘设备(evdev)、合成器绑定(vurin --trigger),"
            "依次尝试;触发方式:" +
            expectedTriggerMode(globalShortcutsVersion().has_value(), gnome.get()) +
            ";按键注入:虚拟键盘协议" + mark(paths.virtualKeyboard) + ",RemoteDesktop 门户" +
            (paths.remoteDesktopPortal ? mark(true) : " ❔(门户未应答,需要时再问)") +
            ",/dev/uinput" + mark(paths.uinputWritable) + "(使用:" + keystrokes->pathName() +
            ");剪贴板:" + clipboardPath(clipboard.get(), noDataControl),
        .stop = [capture] { capture->stop(); }};
    return platform;
}

}  // namespace vurin
