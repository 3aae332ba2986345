#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/app_controller.h"
#include "app/app_services.h"
#include "app/wayland_permission_help.h"
#include "input/trigger_commands.h"
#include "platform/clipboard.h"
#include "platform/display_session.h"
#include "platform/focus_reader.h"
#include "platform/keystrokes.h"
#include "platform/main_queue.h"
#include "platform/permission_probe.h"
#include "settings_ui/gnome_trigger_shortcuts.h"

namespace vurin {

// What differs between an X11 and a Wayland session, assembled once at start: the trigger
// capture, focus reading, keystrokes and the permission probe. The rest of the process is the
// same in both.
struct SessionPlatform {
    DisplaySession session = DisplaySession::x11;
    std::shared_ptr<TriggerCapture> triggerCapture;
    std::shared_ptr<PermissionProbe> probe;
    std::shared_ptr<FocusReader> focus;
    std::shared_ptr<KeystrokeSender> keystrokes;
    // Whether a selection's owner answers promptly (a hung owner would stall the clipboard).
    std::function<bool(ClipboardSelection)> clipboardOwnerAnswers;
    // The process behind the window that asks for a selection (X11), for telling the paste's
    // target from a clipboard manager.
    std::function<int(std::uint32_t window)> clipboardReaderProcess;
    // The session's own clipboard; none: Qt's clipboard is used.
    std::shared_ptr<Clipboard> clipboard;
    // No clipboard Vurin may set unseen (a Wayland desktop without data-control): the text is
    // typed instead of pasted, and the user's clipboard is left alone.
    bool typeInsteadOfPaste = false;
    // The keysym name of an evdev code, for key names the key-code table lacks.
    std::function<std::optional<std::string>(int evdevCode)> keyName;
    // "Set key…" in the settings window.
    std::function<void()> startDetectKey;
    // The capture holds a working trigger now (the permission window's input grant).
    std::function<bool()> triggerHeld;
    // Wires the capture to the controller once both exist; `setLabel` sets the settings
    // window's trigger-key label.
    std::function<void(const std::shared_ptr<AppController>& controller,
                       std::function<void(const std::string& text)> setLabel)>
        attach;
    // A press (true) or release from `vurin --trigger`; `registered` tells whether the bus
    // name is ours, so that those can arrive at all.
    // `at`: when the command started, on the main queue's clock.
    std::function<void(bool down, double at)> bindingEvent;
    // A toggle, send or cancel from `vurin --trigger` arrived (the controller carries it out).
    std::function<void(TriggerCommand command)> bindingCommand;
    std::function<void(bool registered)> bindingRegistered;
    // What the permission window and the settings window add in a Wayland session (all empty
    // on X11): the help on paths and bindings, the trigger as the desktop bound it, and the
    // lines that bind it in a compositor.
    std::optional<WaylandPermissionHelp> permissionHelp;
    std::function<std::string()> triggerKeyLabel;
    std::function<CompositorBindingLines()> compositorBindingLines;
    // GNOME without global shortcuts: Vurin's own custom shortcuts, and whether the settings
    // window offers them now; the keys for them. Empty elsewhere.
    std::shared_ptr<GnomeTriggerShortcuts> gnomeShortcuts;
    std::function<bool()> offerGnomeShortcuts;
    std::function<GnomeTriggerShortcuts::Keys()> gnomeKeys;
    // The start-up log line naming the session and the paths found.
    std::string startupLine;
    std::function<void()> stop;
};

SessionPlatform makeX11Platform(const std::shared_ptr<MainQueue>& mainQueue);
// Nothing, with one log line, when no compositor answers.
std::optional<SessionPlatform> makeWaylandPlatform(const std::shared_ptr<MainQueue>& mainQueue);

}  // namespace vurin
