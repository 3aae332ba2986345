#include "platform/linux/pipe_peer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <string>
#include <system_error>

namespace vurin {

namespace {

bool holds(const std::filesystem::path& process, const std::string& wanted) {
    std::error_code unreadable;  // another user's process, or one that just ended
    for (const auto& open : std::filesystem::directory_iterator(process / "fd", unreadable)) {
        std::error_code gone;
        if (std::filesystem::read_symlink(open.path(), gone) == wanted) {
            return true;
        }
    }
    return false;
}

}  // namespace

int pipePeerProcess(int fd, int likely) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) {
        return 0;
    }
    const std::string wanted = "pipe:[" + std::to_string(status.st_ino) + "]";
    const int self = getpid();
    const std::filesystem::path proc = "/proc";
    if (likely > 0 && likely != self && holds(proc / std::to_string(likely), wanted)) {
        return likely;
    }
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator(proc, error)) {
        const std::string name = process.path().filename();
        int pid = 0;
        const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (parsed != std::errc{} || end != name.data() + name.size() || pid == self ||
            pid == likely) {
            continue;
        }
        if (holds(process.path(), wanted)) {
            return pid;
        }
    }
    return 0;
}

}  // namespace vurin
