// The `vurin` command. A compositor's key binding runs it on every press and release, so that
// path must not load the application's hundred libraries (it would cost some 20 ms a key):
// `--trigger` is answered here, with libdbus alone, and anything else starts the application,
// unless a Vurin already runs in this session: that one is asked to bring its window forward,
// with the desktop's token for this start.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "launcher/launcher_command_line.h"
#include "platform/linux/trigger_command.h"
#include "support/build_info.h"
#include "support/executable.h"

namespace {

// Beside this program (a build tree, or a package that keeps them together), else where the
// package installs it.
std::filesystem::path applicationPath(const std::filesystem::path& self) {
    const std::filesystem::path beside = self.parent_path() / "vurin-app";
    std::error_code ignored;
    if (!self.empty() && std::filesystem::exists(beside, ignored)) {
        return beside;
    }
    return VURIN_APPLICATION_FALLBACK;
}

}  // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = vurin::runTriggerCommand(argc, argv)) {
        return *status;
    }
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const vurin::LauncherCommand command =
        vurin::parseLauncherCommandLine(arguments, VURIN_APP_VERSION, VURIN_APP_BUILD);
    switch (command.action) {
        case vurin::LauncherAction::help:
        case vurin::LauncherAction::version:
            std::puts(command.message.c_str());
            return 0;
        case vurin::LauncherAction::wrong:
            std::fprintf(stderr, "%s\n", command.message.c_str());
            return 2;
        case vurin::LauncherAction::trigger:  // answered above
        case vurin::LauncherAction::start:
            break;
    }
    const vurin::RunningVurinAnswer running =
        vurin::askRunningVurin(vurin::startupTokensFromEnvironment(), !command.autostart);
    switch (running.state) {
        case vurin::RunningVurin::answered:
            if (!command.autostart) {
                std::puts(
                    "vurin: Vurin already runs in this session and brings its window forward");
            }
            return 0;
        case vurin::RunningVurin::silent:
            std::fprintf(stderr,
                         "vurin: a Vurin already runs in this session but did not answer: %s\n",
                         running.detail.c_str());
            return 1;
        case vurin::RunningVurin::none:
            break;
    }
    std::error_code ignored;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ignored);
    const std::filesystem::path application = applicationPath(self);
    setenv(vurin::launcherVariable, self.c_str(), 1);
    execv(application.c_str(), argv);
    std::fprintf(stderr, "vurin: cannot start %s: %s\n", application.c_str(), std::strerror(errno));
    return 1;
}
