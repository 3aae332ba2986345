#include "support/kde_session.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/testing.h"

namespace vurin::testing {
namespace {

// KWin compares the desktop file's Exec, found on PATH, with /proc/PID/exe of the client.
bool entitleFakeInput() {
    const char* data = std::getenv("XDG_DATA_HOME");
    const auto file =
        std::filesystem::path(data ? data : "") / "applications/vurin-test-fake-input.desktop";
    std::ofstream(file) << "[Desktop Entry]\nType=Application\nName=Vurin test keys\n"
                           "NoDisplay=true\nExec=" VURIN_KWIN_FAKE_INPUT
                           "\n"
                           "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
    return std::filesystem::exists(file);
}

}  // namespace

KdeSession::KdeSession() : DesktopSession("kde", "xdg-desktop-portal-kde", {"Share"}) {}

bool KdeSession::key(int code, bool pressed) {
    // KWin reads the desktop files again once it sees their folder change.
    if (!fakeInput_ && (!entitleFakeInput() || !eventually([&] {
            fakeInput_ = std::make_unique<DesktopProgram>(
                std::vector<std::string>{VURIN_KWIN_FAKE_INPUT}, true);
            return fakeInput_->waitForLine("ready", std::chrono::seconds(2));
        }))) {
        fakeInput_.reset();
        return false;
    }
    return send(*fakeInput_, std::to_string(code) + (pressed ? " 1" : " 0"));
}

bool KdeSession::activate(pid_t pid) {
    const auto script = std::filesystem::temp_directory_path() / "vurin-activate.js";
    // foot reaches KWin through a proxy, so its window has the proxy's pid: it is known by the
    // app id DesktopSession::foot gives it.
    std::ofstream(script) << "workspace.clientList().forEach(window => {\n  if (window.pid === "
                          << pid << " || window.resourceClass === 'vurin-test-foot-" << pid
                          << "') workspace.activeClient = window;\n});\n";
    // Loaded scripts run at start(); the name is free again for the next call once unloaded.
    const std::string call =
        "gdbus call -e -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.";
    const std::string run = call + "loadScript '" + script.string() + "' vurin-activate && " +
                            call + "start; " + call + "unloadScript vurin-activate";
    return runToEnd({"sh", "-c", run}) && eventually([&] {
               return runToEnd(
                   {VURIN_SESSION_SCRIPTS "/accessibility", "active", std::to_string(pid)});
           });
}

std::optional<std::string> KdeSession::clipboard() {
    return capture({"wl-paste", "--no-newline"});
}

}  // namespace vurin::testing
