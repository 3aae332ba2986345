#include "support/gnome_session.h"

#include <linux/input-event-codes.h>

#include "support/testing.h"

namespace vurin::testing {

GnomeSession::GnomeSession()
    : DesktopSession("gnome", "xdg-desktop-portal-gnome", {"Allow remote interaction", "_Share"}) {
    // Mutter loses the first key of a session it has just started: the session starts with the
    // fixture, before the test's windows, and a Shift goes first.
    keys_ = std::make_unique<DesktopProgram>(
        std::vector<std::string>{VURIN_SESSION_SCRIPTS "/mutter-keys"}, true);
    if (!joined() || !keys_->waitForLine("ready") || !send(*keys_, "keycode 42 1") ||
        !send(*keys_, "keycode 42 0")) {
        keys_.reset();
    }
}

bool GnomeSession::key(int code, bool pressed) {
    return keys_ && send(*keys_, "keycode " + std::to_string(code) + (pressed ? " 1" : " 0"));
}

bool GnomeSession::activate(pid_t pid) {
    const std::string focus =
        "(() => { const window = global.get_window_actors().map(actor => actor.meta_window)"
        ".find(window => window.get_pid() === " +
        std::to_string(pid) +
        "); if (window) Main.activateWindow(window);"
        " return global.display.get_focus_window()?.get_pid(); })()";
    // Mutter has given the focus once the shell says so; the window knows once it is active on
    // the accessibility bus, and a key pressed before that goes to the window before.
    return eventually([&] { return eval(focus) == std::to_string(pid); }) && eventually([&] {
               return runToEnd(
                   {VURIN_SESSION_SCRIPTS "/accessibility", "active", std::to_string(pid)});
           });
}

std::optional<std::string> GnomeSession::eval(const std::string& expression) {
    const auto reply = capture({"gdbus", "call", "-e", "-d", "org.gnome.Shell", "-o",
                                "/org/gnome/Shell", "-m", "org.gnome.Shell.Eval", expression});
    // (true, 'RESULT')
    if (!reply || !reply->starts_with("(true, '") || !reply->ends_with("')\n")) {
        return std::nullopt;
    }
    return reply->substr(8, reply->size() - 11);
}

}  // namespace vurin::testing
