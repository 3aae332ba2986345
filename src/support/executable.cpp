#include "support/executable.h"

#include <cstdlib>

namespace vurin {

std::filesystem::path vurinCommand() {
    if (const char* command = std::getenv(launcherVariable); command && *command) {
        return command;
    }
    std::error_code ignored;
    return std::filesystem::read_symlink("/proc/self/exe", ignored);
}

}  // namespace vurin
