#include "platform/linux/desktop_settings_linux.h"

#include <cstdlib>
#include <sstream>

#include "settings_ui/desktop_launch.h"

namespace vurin {
namespace {

bool listsDesktop(const std::string& currentDesktop, const std::string& name) {
    std::stringstream entries(currentDesktop);
    std::string entry;
    while (std::getline(entries, entry, ':')) {
        if (entry == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

LinuxDesktopSettings::LinuxDesktopSettings()
    : LinuxDesktopSettings(
          std::getenv("XDG_CURRENT_DESKTOP") ? std::getenv("XDG_CURRENT_DESKTOP") : "",
          [](const std::string& program) {
              return findExecutable(program, processSearchPath()).has_value();
          },
          spawnDetached) {}

LinuxDesktopSettings::LinuxDesktopSettings(std::string currentDesktop, ProgramLookup hasProgram,
                                           Launcher launch)
    : hasProgram_(std::move(hasProgram)), launch_(std::move(launch)) {
    if (listsDesktop(currentDesktop, "GNOME") && hasProgram_("gnome-control-center")) {
        desktop_ = Desktop::gnome;
    } else if (listsDesktop(currentDesktop, "KDE")) {
        // Plasma 6 names it systemsettings, Plasma 5 systemsettings5.
        for (const char* program : {"systemsettings", "systemsettings5"}) {
            if (hasProgram_(program)) {
                kdeSettingsProgram_ = program;
                desktop_ = Desktop::kde;
                break;
            }
        }
    }
}

std::string LinuxDesktopSettings::desktopName() const {
    switch (desktop_) {
        case Desktop::gnome:
            return "GNOME";
        case Desktop::kde:
            return "KDE Plasma";
        case Desktop::other:
            break;
    }
    return {};
}

SettingsDestination LinuxDesktopSettings::destination(SettingsPage page) const {
    if (session_ == DisplaySession::wayland && page == SettingsPage::accessibility) {
        return SettingsDestination::helpPage;
    }
    if (desktop_ != Desktop::other) {
        return SettingsDestination::desktopPanel;
    }
    if (page == SettingsPage::microphone && hasProgram_("pavucontrol")) {
        return SettingsDestination::soundMixer;
    }
    return SettingsDestination::helpPage;
}

std::vector<std::string> LinuxDesktopSettings::command(
    SettingsPage page, const std::filesystem::path& helpPage) const {
    const SettingsDestination where = destination(page);
    if (where == SettingsDestination::desktopPanel && desktop_ == Desktop::gnome) {
        switch (page) {
            case SettingsPage::accessibility:
                return {"gnome-control-center", "universal-access"};
            case SettingsPage::inputMonitoring:
                // Where the desktop's own shortcuts, which may hold the trigger key, are set.
                return {"gnome-control-center", "keyboard"};
            case SettingsPage::microphone:
                return {"gnome-control-center", "sound"};
        }
    }
    if (where == SettingsDestination::desktopPanel && desktop_ == Desktop::kde) {
        switch (page) {
            case SettingsPage::accessibility:
                return {kdeSettingsProgram_, "kcm_access"};
            case SettingsPage::inputMonitoring:
                return {kdeSettingsProgram_, "kcm_keys"};
            case SettingsPage::microphone:
                return {kdeSettingsProgram_, "kcm_pulseaudio"};
        }
    }
    if (where == SettingsDestination::soundMixer) {
        return {"pavucontrol", "--tab=4"};  // the input devices
    }
    if (helpPage.empty() || !hasProgram_("xdg-open")) {
        return {};
    }
    return {"xdg-open", helpPage.string()};
}

bool LinuxDesktopSettings::open(SettingsPage page, const std::filesystem::path& helpPage) {
    const std::vector<std::string> run = command(page, helpPage);
    return !run.empty() && launch_(run);
}

}  // namespace vurin
