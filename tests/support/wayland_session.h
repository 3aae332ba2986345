#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "support/desktop_program.h"

namespace vurin::testing {

// The Wayland half of scripts/test-session: sway (run by VURIN_WAYLAND_USER), the portal.
class WaylandSession {
  public:
    // From $VURIN_TEST_SESSION/wayland-env; nothing without it (and stderr says so).
    static std::optional<WaylandSession> join();

    // What a child process on Wayland needs set; no value: unset (DISPLAY). Without data-control:
    // the same sway behind scripts/session/wayland-filter-proxy, which hides it as GNOME lacks it.
    std::map<std::string, std::optional<std::string>> environment(
        bool withoutDataControl = false) const;
    // The command of a relay of sway at `socket` (scripts/session/wayland-filter-proxy, nothing
    // hidden): ending it ends its clients' connections, as a compositor restart does.
    std::vector<std::string> relay(const std::string& socket) const;
    // Stops the session's xdg-desktop-portal and starts another (scripts/test-session
    // restart-portal), as a desktop's portal restarts; true once the new one answers.
    bool restartPortal() const;
    // One sway command. Bindings outlive the test: undo them with `unbindsym`.
    bool swaymsg(const std::string& command) const;
    // A key of a virtual keyboard. wtype lets its keys go when it exits, so a press is a wtype
    // that holds the key until the release ends it: wait for the press before releasing.
    bool typeKey(const std::string& keysym, bool press);
    // A new folder where the compositor's user, who runs the bindings' commands, may read,
    // write and run programs (the build tree may be private to root); gone with the session.
    std::filesystem::path sharedFolder() const;
    std::string shareExecutable(const std::filesystem::path& program) const;
    // A method of scripts/session/global-shortcuts-backend's control interface (arguments are
    // plain words); when `answer` is given, the number it must answer.
    bool portalControl(const std::string& method, const std::vector<std::string>& arguments = {},
                       std::optional<unsigned> answer = {}) const;

  private:
    std::string get(const std::string& name) const { return env_.at(name).value_or(""); }
    std::map<std::string, std::optional<std::string>> env_;
    std::map<std::string, DesktopProgram> heldKeys_;
};

}  // namespace vurin::testing
