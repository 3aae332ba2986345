#include "support/desktop_session.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "support/testing.h"

namespace vurin::testing {
namespace {

const std::string kScripts = VURIN_SESSION_SCRIPTS;

std::unique_ptr<DesktopProgram> startReady(std::vector<std::string> argv) {
    auto program = std::make_unique<DesktopProgram>(std::move(argv));
    return program->waitForLine("ready", std::chrono::seconds(20)) ? std::move(program) : nullptr;
}

}  // namespace

bool runToEnd(std::vector<std::string> argv, std::chrono::milliseconds limit) {
    DesktopProgram program(std::move(argv));
    return eventually([&] { return program.exitStatus().has_value(); }, limit) &&
           program.exitStatus() == 0;
}

std::optional<std::string> capture(std::vector<std::string> argv) {
    DesktopProgram program(std::move(argv));
    std::string output = program.remainingOutput();
    if (!eventually([&] { return program.exitStatus().has_value(); }) ||
        program.exitStatus() != 0) {
        return std::nullopt;
    }
    return output;
}

DesktopSession::DesktopSession(const std::string& desktop, std::string portal,
                               std::vector<std::string> consent)
    : portal_(std::move(portal)), consent_(std::move(consent)) {
    const char* running = std::getenv("VURIN_TEST_DESKTOP");
    joined_ = running && desktop == running;
    if (!joined_) {
        std::cerr << "not in a " << desktop << " session (scripts/test-session start DIR "
                  << desktop << ", then source DIR/env)\n";
    }
}

std::unique_ptr<DesktopProgram> DesktopSession::qtField(const std::string& text) const {
    return startReady({VURIN_QT_DESKTOP_HELPER, "field", text});
}

std::unique_ptr<DesktopProgram> DesktopSession::gtkField(const std::string& text) const {
    return startReady({"/usr/bin/python3", "-c", R"(
import sys, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk, GLib
window, entry = Gtk.Window(title="gtk-field"), Gtk.Entry(text=sys.argv[1])
window.add(entry)
window.show_all()
entry.grab_focus()
entry.set_position(-1)
entry.connect("changed", lambda e: print("text " + e.get_text(), flush=True))
GLib.idle_add(lambda: print("ready", flush=True) and False)
Gtk.main()
)",
                       text});
}

std::unique_ptr<DesktopProgram> DesktopSession::foot(const std::string& shellCommand) const {
    // Its app id names its pid, for a compositor that sees the proxy's pid (KDE).
    const char* display = std::getenv("VURIN_FOOT_DISPLAY");
    auto program = std::make_unique<DesktopProgram>(std::vector<std::string>{
        "sh", "-c",
        std::string(display ? "WAYLAND_DISPLAY='" + std::string(display) + "' " : "") +
            "exec foot --app-id=vurin-test-foot-$$ sh -c \"$0\"",
        shellCommand});
    return program->started() ? std::move(program) : nullptr;
}

std::vector<std::string> DesktopSession::inAppScope(const std::string& appId,
                                                    std::vector<std::string> argv) {
    argv.insert(argv.begin(), {kScripts + "/in-app-scope", appId});
    return argv;
}

bool DesktopSession::enterAppScope(const std::string& appId) {
    return runToEnd({kScripts + "/in-app-scope", appId, "--pid", std::to_string(getpid())});
}

bool DesktopSession::sessionCommand(const std::string& command) {
    const char* state = std::getenv("VURIN_TEST_SESSION");
    return state &&
           runToEnd({kScripts + "/../test-session", command, state}, std::chrono::seconds(30));
}

std::optional<std::string> DesktopSession::fieldText(pid_t pid) {
    auto text = capture({kScripts + "/accessibility", "text", std::to_string(pid)});
    if (!text || !text->ends_with('\n')) {
        return std::nullopt;
    }
    text->pop_back();
    return text;
}

bool DesktopSession::shareWhenAsked(std::chrono::seconds limit) const {
    std::vector<std::string> argv{kScripts + "/accessibility", "press", portal_,
                                  std::to_string(limit.count())};
    argv.insert(argv.end(), consent_.begin(), consent_.end());
    return runToEnd(argv, limit + std::chrono::seconds(5));
}

bool DesktopSession::send(DesktopProgram& helper, const std::string& line) {
    return helper.write(line + "\n") && helper.waitForLine("ok");
}

}  // namespace vurin::testing
