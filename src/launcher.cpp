// The `vurin` command. A compositor's key binding runs it on every press and release, so that
// path must not load the application's hundred libraries (it would cost some 20 ms a key):
// `--trigger` is answered here, with libdbus alone, and anything else starts the application.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/linux/trigger_command.h"
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
    std::error_code ignored;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ignored);
    const std::filesystem::path application = applicationPath(self);
    setenv(vurin::launcherVariable, self.c_str(), 1);
    execv(application.c_str(), argv);
    std::fprintf(stderr, "vurin: cannot start %s: %s\n", application.c_str(), std::strerror(errno));
    return 1;
}
