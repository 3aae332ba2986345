#include "injection/paste_keystroke.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace vurin {

namespace {

// WM_CLASS classes (the second string of the property) and Wayland app ids, lower-cased.
constexpr std::string_view kTerminalClasses[] = {
    "xterm",
    "uxterm",
    "gnome-terminal",
    "gnome-terminal-server",
    "gnome-terminal-",  // the process name, cut at 15 characters
    "konsole",
    "org.kde.konsole",
    "org.gnome.terminal",
    "kitty",
    "alacritty",
    "wezterm",
    "org.wezfurlong.wezterm",
    "foot",
    "footclient",
    "tilix",
    "com.gexperts.tilix",
    "terminator",
    "xfce4-terminal",
    "urxvt",
    "rxvt",
    "rxvt-unicode",
    "urxvt-unicode",
    "st",
    "st-256color",
    "mate-terminal",
    "lxterminal",
    "qterminal",
    "terminology",
    "sakura",
    "guake",
    "tilda",
    "yakuake",
    "terminal",
    "kgx",
    "org.gnome.console",
    "org.gnome.ptyxis",
    "com.raggesilver.blackbox",
    "com.mitchellh.ghostty",
    "ghostty",
    "cool-retro-term",
    "deepin-terminal",
    "eterm",
    "contour",
    "io.elementary.terminal",
};

std::string lowerASCII(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered;
}

}  // namespace

bool isTerminalEmulator(const std::optional<std::string>& windowClass) {
    if (!windowClass) {
        return false;
    }
    const std::string lowered = lowerASCII(*windowClass);
    return std::find(std::begin(kTerminalClasses), std::end(kTerminalClasses), lowered) !=
           std::end(kTerminalClasses);
}

PasteKeystroke pasteKeystrokeFor(const InjectionTarget& target, bool primaryWritable) {
    // Shift+Insert pastes in GTK, Qt and Chromium fields as well as in every terminal: the one
    // chord for a window nothing is known of, with the text in both selections.
    if (target.unverifiable && primaryWritable) {
        return {
            .keystroke = Keystroke::pasteShiftInsert, .name = "Shift+Insert", .alsoPrimary = true};
    }
    if (isTerminalEmulator(target.bundleID) && !primaryWritable) {
        return {.keystroke = Keystroke::pasteControlShiftV,
                .name = "Ctrl+Shift+V",
                .alsoPrimary = false};
    }
    if (isTerminalEmulator(target.bundleID)) {
        return {
            .keystroke = Keystroke::pasteShiftInsert, .name = "Shift+Insert", .alsoPrimary = true};
    }
    return {.keystroke = Keystroke::pasteControlV, .name = "Ctrl+V", .alsoPrimary = false};
}

}  // namespace vurin
