#include "support/wayland_session.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "support/testing.h"

namespace vurin::testing {
namespace {

const std::string kStandIn = "org.freedesktop.impl.portal.desktop.vurintest";
const std::string kControlPath = "/com/vurin/test/GlobalShortcuts";
const std::string kControl = "com.vurin.test.GlobalShortcuts.";

// Whether a program exits with 0 after printing `line` (if given); false once it ends otherwise.
bool run(std::vector<std::string> argv, const std::string& line = "") {
    DesktopProgram program(std::move(argv));
    return (line.empty() || program.waitForLine(line)) &&
           eventually([&] { return program.exitStatus().has_value(); }) &&
           program.exitStatus() == 0;
}

}  // namespace

std::optional<WaylandSession> WaylandSession::join() {
    const char* state = std::getenv("VURIN_TEST_SESSION");
    std::ifstream in(std::filesystem::path(state ? state : "/nonexistent") / "wayland-env");
    if (!in) {
        std::cerr << "no Wayland session: no wayland-env in VURIN_TEST_SESSION\n";
        return std::nullopt;
    }
    WaylandSession session;
    // `unset NAME...`, `export NAME=VALUE` single-quoted or bare (no value here holds a quote).
    for (std::string line, name; std::getline(in, line);) {
        std::istringstream unset(line.starts_with("unset ") ? line.substr(6) : "");
        while (unset >> name) {
            session.env_[name] = std::nullopt;
        }
        if (const auto equals = line.find('=');
            line.starts_with("export ") && equals != line.npos) {
            const bool quoted = line[equals + 1] == '\'';
            session.env_[line.substr(7, equals - 7)] =
                line.substr(equals + 1 + quoted, line.size() - equals - 1 - 2 * quoted);
        }
    }
    return session;
}

std::map<std::string, std::optional<std::string>> WaylandSession::environment(
    bool withoutDataControl) const {
    auto env = env_;
    if (withoutDataControl) {
        env["WAYLAND_DISPLAY"] = get("VURIN_WAYLAND_NO_DATA_CONTROL_DISPLAY");
    }
    return env;
}

std::vector<std::string> WaylandSession::relay(const std::string& socket) const {
    return {"python3",    VURIN_SCRIPTS_DIR "/session/wayland-filter-proxy",
            "--listen",   socket,
            "--upstream", get("WAYLAND_DISPLAY")};
}

bool WaylandSession::restartPortal() const {
    const char* state = std::getenv("VURIN_TEST_SESSION");
    return state && run({VURIN_SCRIPTS_DIR "/test-session", "restart-portal", state});
}

bool WaylandSession::swaymsg(const std::string& command) const {
    return run({"swaymsg", "-s", get("SWAYSOCK"), command});
}

bool WaylandSession::typeKey(const std::string& keysym, bool press) {
    if (!press) {
        return heldKeys_.erase(keysym) == 1;  // its wtype is killed: the key goes up
    }
    const std::string display = "WAYLAND_DISPLAY=" + get("WAYLAND_DISPLAY");
    std::vector<std::string> wtype{"env", display, "wtype", "-s",     "150",
                                   "-P",  keysym,  "-s",    "3600000"};
    return heldKeys_.try_emplace(keysym, std::move(wtype)).first->second.started();
}

std::filesystem::path WaylandSession::sharedFolder() const {
    std::string folder = get("VURIN_WAYLAND_RUNTIME_DIR") + "/shared.XXXXXX";
    if (mkdtemp(folder.data()) != nullptr) {
        std::filesystem::permissions(folder, std::filesystem::perms::all);
    }
    return folder;
}

std::string WaylandSession::shareExecutable(const std::filesystem::path& program) const {
    const auto copy = sharedFolder() / program.filename();
    std::filesystem::copy_file(program, copy);
    std::filesystem::permissions(copy, std::filesystem::perms(0755));
    return copy.string();
}

bool WaylandSession::portalControl(const std::string& method,
                                   const std::vector<std::string>& arguments,
                                   std::optional<unsigned> answer) const {
    std::vector<std::string> call{
        "gdbus", "call", "-e", "-d", kStandIn, "-o", kControlPath, "-m", kControl + method};
    call.insert(call.end(), arguments.begin(), arguments.end());
    return run(call, answer ? "(uint32 " + std::to_string(*answer) + ",)" : "");
}

}  // namespace vurin::testing
