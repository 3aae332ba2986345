#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "injection/injection_target.h"
#include "platform/keystrokes.h"

namespace vurin {

// How a paste reaches one application.
struct PasteKeystroke {
    Keystroke keystroke;
    // The chord as the log names it.
    std::string_view name;
    // The text goes to the primary selection as well as to the clipboard.
    bool alsoPrimary;
};

// Terminal emulators, told by their X11 window class or Wayland app id (compared without regard
// to case). In them Ctrl+V is a literal ^V (xterm) or "paste image" to the assistants that run
// there, and Ctrl+Shift+V is not bound everywhere; Shift+Insert pastes in all of them, from the
// primary selection in some and from the clipboard in others.
bool isTerminalEmulator(const std::optional<std::string>& windowClass);

// Shift+Insert with both selections for terminal emulators, Ctrl+V with the clipboard alone
// for everything else. Where the primary selection cannot be set (a compositor whose
// data-control lacks it), Shift+Insert would paste whatever the user last selected in foot,
// xterm and the VTE terminals: terminals then get Ctrl+Shift+V, which pastes the clipboard in
// the terminals of a Wayland desktop (foot, Konsole, VTE, kitty, Alacritty, WezTerm).
PasteKeystroke pasteKeystrokeFor(const InjectionTarget& target, bool primaryWritable = true);

}  // namespace vurin
