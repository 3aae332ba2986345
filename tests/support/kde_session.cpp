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
    std::ofstream(script) << "workspace.clientList().forEach(window => {\n  if (window.pid === "
                          << pid << ") workspace.activeClient = window;\n});\n";
    const std::string call = "gdbus call -e -d org.kde.KWin -o /Scripting";
    const std::string run =
        "id=$(" + call + " -m org.kde.kwin.Scripting.loadScript '" + script.string() +
        "' vurin-activate | sed -n 's/^(int32 \\([0-9]*\\),)$/\\1/p') && [ -n \"$id\" ] && " +
        call + "/Script$id -m org.kde.kwin.Script.run; " + call +
        " -m org.kde.kwin.Scripting.unloadScript vurin-activate";
    return runToEnd({"sh", "-c", run}) && eventually([&] {
               return runToEnd(
                   {VURIN_SESSION_SCRIPTS "/accessibility", "active", std::to_string(pid)});
           });
}

std::optional<std::string> KdeSession::clipboard() {
    return capture({"wl-paste", "--no-newline"});
}

}  // namespace vurin::testing
