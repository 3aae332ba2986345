#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/permission_probe.h"

namespace vurin {

// The settings programs of the desktops we know: GNOME's control center and KDE's System
// Settings at the matching panel; elsewhere pavucontrol for the microphone and the help page
// (through xdg-open) for the rest.
class LinuxDesktopSettings : public DesktopSettings {
  public:
    // Whether a program of that name is on $PATH.
    using ProgramLookup = std::function<bool(const std::string& program)>;
    // Starts a command without waiting for it; false when it could not be started.
    using Launcher = std::function<bool(const std::vector<std::string>& command)>;

    // This process's desktop ($XDG_CURRENT_DESKTOP), $PATH, and a detached launch.
    LinuxDesktopSettings();
    LinuxDesktopSettings(std::string currentDesktop, ProgramLookup hasProgram, Launcher launch);

    std::string desktopName() const override;
    SettingsDestination destination(SettingsPage page) const override;
    bool open(SettingsPage page, const std::filesystem::path& helpPage) override;

    // The command open() runs for `page`; empty when there is none.
    std::vector<std::string> command(SettingsPage page,
                                     const std::filesystem::path& helpPage) const;

  private:
    enum class Desktop { gnome, kde, other };

    Desktop desktop_ = Desktop::other;
    std::string kdeSettingsProgram_;
    ProgramLookup hasProgram_;
    Launcher launch_;
};

}  // namespace vurin
