#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/display_session.h"
#include "platform/permission_probe.h"

namespace vurin {

// The settings programs of the desktops we know: GNOME's control center and KDE's System
// Settings at the matching panel; elsewhere pavucontrol for the microphone and the help page
// (through xdg-open) for the rest. In a Wayland session no settings panel grants synthetic input,
// so accessibility goes to the help page everywhere; the keyboard shortcuts, where the trigger's
// global shortcut lives, stay the input-monitoring page.
class LinuxDesktopSettings : public DesktopSettings {
  public:
    // Whether a program of that name is on $PATH.
    using ProgramLookup = std::function<bool(const std::string& program)>;
    // Starts a command without waiting for it; false when it could not be started.
    using Launcher = std::function<bool(const std::vector<std::string>& command)>;

    // This process's desktop ($XDG_CURRENT_DESKTOP), $PATH, and a detached launch.
    LinuxDesktopSettings();
    LinuxDesktopSettings(std::string currentDesktop, ProgramLookup hasProgram, Launcher launch);

    // X11 until told otherwise.
    void setSession(DisplaySession session) { session_ = session; }

    std::string desktopName() const override;
    SettingsDestination destination(SettingsPage page) const override;
    bool open(SettingsPage page, const std::filesystem::path& helpPage) override;

    // The command open() runs for `page`; empty when there is none.
    std::vector<std::string> command(SettingsPage page,
                                     const std::filesystem::path& helpPage) const;

  private:
    enum class Desktop { gnome, kde, other };

    Desktop desktop_ = Desktop::other;
    DisplaySession session_ = DisplaySession::x11;
    std::string kdeSettingsProgram_;
    ProgramLookup hasProgram_;
    Launcher launch_;
};

}  // namespace vurin
