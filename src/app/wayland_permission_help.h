#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/keystroke_paths.h"

namespace vurin {

// The lines that hand the trigger key to `vurin --trigger` in a compositor's configuration.
struct CompositorBindingLines {
    std::vector<std::string> sway;
    std::vector<std::string> hyprland;
};

// `keyName` is the key's keysym name ("F13"); `program` is what the compositor runs.
CompositorBindingLines compositorBindingLines(const std::string& keyName,
                                              const std::string& program);

// The keystroke path a Wayland session chose at start.
enum class WaylandKeystrokePath { none, virtualKeyboard, remoteDesktopPortal, uinput };

// What the permission window and its help page say in a Wayland session.
struct WaylandPermissionHelp {
    WaylandKeystrokePaths offered;
    // The lines for the trigger key configured now.
    std::function<CompositorBindingLines()> bindingLines;
    // The path the keystrokes take; none when nothing offered could be used.
    std::function<WaylandKeystrokePath()> pathInUse;
    // The user declined the portal's request; this can happen while the window is open.
    std::function<bool()> declined;
    // How the trigger key is used now (held, or pressed to start and again to end) and why, in
    // the interface language.
    std::function<std::pair<bool, std::string>()> triggerMode;  // (toggles, why)
};

// The offered paths in the interface language, joined; empty when there is none.
std::string offeredKeystrokePathsText(const WaylandKeystrokePaths& offered);
// The permission window's note: the path in use; or, without one, what happened or what this
// desktop lacks and what the user can do.
std::string waylandKeystrokeNote(const WaylandPermissionHelp& help);
// The permission window's line on how the trigger key is used and why.
std::string waylandTriggerModeNote(const WaylandPermissionHelp& help);
// Whether the keystrokes have a path the user has not declined (the note is then no warning).
bool waylandKeystrokesUsable(const WaylandPermissionHelp& help);
// The help page's Wayland sections (HTML): keystroke paths, then trigger sources and bindings.
std::string waylandHelpSections(const WaylandPermissionHelp& help);

}  // namespace vurin
