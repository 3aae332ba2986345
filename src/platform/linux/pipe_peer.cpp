#include "platform/linux/pipe_peer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <string>
#include <system_error>

namespace vurin {

int pipePeerProcess(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) {
        return 0;
    }
    const std::string wanted = "pipe:[" + std::to_string(status.st_ino) + "]";
    const int self = getpid();
    std::error_code error;
    for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = process.path().filename();
        int pid = 0;
        const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (parsed != std::errc{} || end != name.data() + name.size() || pid == self) {
            continue;
        }
        std::error_code unreadable;  // another user's process, or one that just ended
        for (const auto& open :
             std::filesystem::directory_iterator(process.path() / "fd", unreadable)) {
            std::error_code gone;
            if (std::filesystem::read_symlink(open.path(), gone) == wanted) {
                return pid;
            }
        }
    }
    return 0;
}

}  // namespace vurin
