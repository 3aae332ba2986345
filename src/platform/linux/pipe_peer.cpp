#include "platform/linux/pipe_peer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

namespace vurin {

namespace {

// Whether process `pid` (a folder of /proc, open as `proc`) has `wanted` among its open files.
// Plain system calls and fixed buffers: a search may look at every open file of every process,
// and allocating for each was most of its time.
bool holds(int proc, const char* pid, const char* wanted, std::size_t wantedLength) {
    char path[64];
    std::snprintf(path, sizeof path, "%s/fd", pid);
    const int folder = openat(proc, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return false;  // another user's process, or one that just ended
    }
    DIR* files = fdopendir(folder);
    if (files == nullptr) {
        close(folder);
        return false;
    }
    bool found = false;
    char target[64];
    while (const dirent* entry = readdir(files)) {
        const ssize_t length = readlinkat(folder, entry->d_name, target, sizeof target);
        if (length == static_cast<ssize_t>(wantedLength) &&
            std::memcmp(target, wanted, wantedLength) == 0) {
            found = true;
            break;
        }
    }
    closedir(files);
    return found;
}

}  // namespace

int pipePeerProcess(int fd, std::initializer_list<int> likely) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) {
        return 0;
    }
    char wanted[64];
    const int wantedLength = std::snprintf(wanted, sizeof wanted, "pipe:[%llu]",
                                           static_cast<unsigned long long>(status.st_ino));
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0) {
        return 0;
    }
    const int self = getpid();
    const auto isCandidate = [&](int pid) {
        return std::find(likely.begin(), likely.end(), pid) != likely.end();
    };
    int found = 0;
    for (const int pid : likely) {
        if (pid > 0 && pid != self &&
            holds(proc, std::to_string(pid).c_str(), wanted,
                  static_cast<std::size_t>(wantedLength))) {
            found = pid;
            break;
        }
    }
    DIR* processes = found == 0 ? fdopendir(dup(proc)) : nullptr;
    while (processes != nullptr && found == 0) {
        const dirent* entry = readdir(processes);
        if (entry == nullptr) {
            break;
        }
        int pid = 0;
        const char* name = entry->d_name;
        const auto [end, parsed] = std::from_chars(name, name + std::strlen(name), pid);
        if (parsed != std::errc{} || *end != '\0' || pid == self || isCandidate(pid)) {
            continue;
        }
        if (holds(proc, name, wanted, static_cast<std::size_t>(wantedLength))) {
            found = pid;
        }
    }
    if (processes != nullptr) {
        closedir(processes);
    }
    close(proc);
    return found;
}

}  // namespace vurin
