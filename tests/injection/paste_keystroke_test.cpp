#include "injection/paste_keystroke.h"

#include <gtest/gtest.h>

namespace vurin {
namespace {

TEST(PasteKeystroke, TerminalsAreKnownByTheirWindowClassInAnyCase) {
    for (const char* terminal : {"XTerm", "xterm", "Gnome-terminal", "konsole", "kitty",
                                 "Alacritty", "org.wezfurlong.wezterm", "foot", "Tilix",
                                 "Terminator", "Xfce4-terminal", "URxvt", "st-256color"}) {
        EXPECT_TRUE(isTerminalEmulator(std::string(terminal))) << terminal;
    }
    for (const char* other : {"Gedit", "firefox", "", "xterm ", "xterminal", "kate"}) {
        EXPECT_FALSE(isTerminalEmulator(std::string(other))) << other;
    }
    EXPECT_FALSE(isTerminalEmulator(std::nullopt));
}

TEST(PasteKeystroke, TerminalsGetShiftInsertWithBothSelections) {
    const PasteKeystroke terminal = pasteKeystrokeFor({.appName = "xterm", .bundleID = "XTerm"});
    EXPECT_EQ(terminal.keystroke, Keystroke::pasteShiftInsert);
    EXPECT_EQ(terminal.name, "Shift+Insert");
    EXPECT_TRUE(terminal.alsoPrimary);

    const PasteKeystroke editor = pasteKeystrokeFor({.appName = "gedit", .bundleID = "Gedit"});
    EXPECT_EQ(editor.keystroke, Keystroke::pasteControlV);
    EXPECT_EQ(editor.name, "Ctrl+V");
    EXPECT_FALSE(editor.alsoPrimary);
    EXPECT_EQ(pasteKeystrokeFor({.appName = "未知应用"}).keystroke, Keystroke::pasteControlV);
}

}  // namespace
}  // namespace vurin
