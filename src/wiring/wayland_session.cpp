#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "input/wayland_trigger_capture.h"
#include "platform/linux/evdev_keyboard_watch.h"
#include "platform/linux/evdev_keyboards.h"
#include "platform/linux/global_shortcuts_portal.h"
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

std::string clipboardPath(const DataControlClipboard* clipboard, const std::string& why) {
    if (clipboard == nullptr) {
        return why + ":文字逐字输入,剪贴板不动";
    }
    return "data-control(" + clipboard->protocol() +
           (clipboard->hasPrimarySelection() ? ",含主选区)" : ",合成器不给主选区)");
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
    const std::shared_ptr<WaylandKeystrokes> keystrokes =
        WaylandKeystrokes::choose(paths, clipboard == nullptr);
    auto keyboards = std::make_shared<EvdevKeyboardWatch>(
        EvdevKeyboardWatch::Devices{.probe = readableKeyboardName});
    auto capture = WaylandTriggerCapture::create(
        mainQueue, {.shortcuts = std::make_shared<GlobalShortcutsPortal>(),
                    .keyboards = keyboards,
                    .keyName = xkbKeyName});
    const std::weak_ptr<WaylandTriggerCapture> weak = capture;
    const std::string program = programForBindings();
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
                .declined = [keystrokes] { return keystrokes->denied(); }},
        .triggerKeyLabel =
            [weak] {
                auto live = weak.lock();
                return live ? live->triggerKeyLabel() : std::string();
            },
        .compositorBindingLines = bindingLines,
        .startupLine =
            std::string("🖥️ 会话:Wayland(WAYLAND_DISPLAY=") + (display ? display : "") +
            ");触发键:全局快捷键门户、键盘设备(evdev)、合成器绑定(vurin --trigger),"
            "依次尝试;按键注入:虚拟键盘协议" +
            mark(paths.virtualKeyboard) + ",RemoteDesktop 门户" + mark(paths.remoteDesktopPortal) +
            ",/dev/uinput" + mark(paths.uinputWritable) + "(使用:" + keystrokes->pathName() +
            ");剪贴板:" + clipboardPath(clipboard.get(), noDataControl),
        .stop = [capture] { capture->stop(); }};
    return platform;
}

}  // namespace vurin
