#include "platform/linux/desktop_settings_linux.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

extern char** environ;

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

bool programOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

bool launchDetached(const std::vector<std::string>& command) {
    if (command.empty()) {
        return false;
    }
    // A shell that starts the program in the background and exits at once: we reap the shell
    // right here, and the program is adopted by init instead of waiting on us.
    std::vector<std::string> arguments = {"/bin/sh", "-c", "\"$@\" </dev/null >/dev/null 2>&1 &",
                                          "vurin-launch"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t shell = -1;
    const int spawned = posix_spawn(&shell, "/bin/sh", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        return false;
    }
    int status = 0;
    while (waitpid(shell, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

LinuxDesktopSettings::LinuxDesktopSettings()
    : LinuxDesktopSettings(
          std::getenv("XDG_CURRENT_DESKTOP") ? std::getenv("XDG_CURRENT_DESKTOP") : "",
          programOnPath, launchDetached) {}

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
    if (desktop_ == Desktop::gnome) {
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
    if (desktop_ == Desktop::kde) {
        switch (page) {
            case SettingsPage::accessibility:
                return {kdeSettingsProgram_, "kcm_access"};
            case SettingsPage::inputMonitoring:
                return {kdeSettingsProgram_, "kcm_keys"};
            case SettingsPage::microphone:
                return {kdeSettingsProgram_, "kcm_pulseaudio"};
        }
    }
    if (destination(page) == SettingsDestination::soundMixer) {
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
