#include "launcher/launcher_command_line.h"

#include <gtest/gtest.h>

namespace vurin {
namespace {

// What the command does with each command line; the version and wrong-option lines are what
// the user reads (the help is checked by its first line).
TEST(LauncherCommandLine, EachCommandLineGetsItsAction) {
    using enum LauncherAction;
    const std::string usage =
        "usage: vurin [--session x11|wayland] [--autostart] | --trigger "
        "press|release|toggle|send|cancel | --help | --version";
    const std::string sessionTakes = "vurin: --session takes x11 or wayland, once (" + usage + ")";
    const std::string triggerTakes =
        "vurin: --trigger takes press, release, toggle, send or cancel (" + usage + ")";
    struct Case {
        std::vector<std::string_view> arguments;
        LauncherAction action;
        std::string message;
        bool autostart = false;
    };
    const std::vector<Case> cases = {
        {{}, start, ""},
        {{"--session", "wayland"}, start, ""},
        {{"--session=x11", "--autostart"}, start, "", true},
        {{"--autostart"}, start, "", true},
        {{"--trigger", "release"}, trigger, ""},
        {{"--trigger", "toggle"}, trigger, ""},
        {{"--trigger", "cancel"}, trigger, ""},
        {{"--trigger", "hold"}, wrong, triggerTakes},
        {{"--version"}, version, "Vurin 1.2 (7)"},
        {{"--session", "x11", "-h"}, help, usage + "\n"},
        {{"--help", "--trigger", "press"}, help, usage + "\n"},
        {{"-platform", "offscreen"}, wrong, "vurin: unknown option -platform (" + usage + ")"},
        {{"--session"}, wrong, sessionTakes},
        {{"--session", "mir"}, wrong, sessionTakes},
        {{"--session=x11", "--session=x11"}, wrong, sessionTakes},
        {{"--trigger"}, wrong, triggerTakes},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(::testing::PrintToString(row.arguments));
        const LauncherCommand command = parseLauncherCommandLine(row.arguments, "1.2", "7");
        EXPECT_EQ(command.action, row.action);
        EXPECT_EQ(
            row.action == help ? command.message.substr(0, row.message.size()) : command.message,
            row.message);
        EXPECT_EQ(command.autostart, row.autostart);
    }
}

}  // namespace
}  // namespace vurin
