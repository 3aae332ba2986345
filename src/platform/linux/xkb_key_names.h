#pragma once

#include <optional>
#include <string>

namespace vurin {

// The keysym name of an evdev code in the default keyboard map (the XKB_DEFAULT_* variables, else
// the system's default layout): "F13", "Alt_R". A Wayland program learns the user's map only
// with keyboard focus, which a tray program seldom has, and the function keys and modifiers that
// serve as triggers are named alike in every layout. Nothing when the key has no name.
std::optional<std::string> xkbKeyName(int evdevCode);

}  // namespace vurin
