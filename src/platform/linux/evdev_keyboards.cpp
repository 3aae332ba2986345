#include "platform/linux/evdev_keyboards.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vurin {

std::vector<EvdevKeyboard> readableKeyboards(int evdevCode) {
    std::vector<EvdevKeyboard> keyboards;
    std::error_code error;
    // Stepped with an error code: a node that vanishes while listed must not throw.
    for (std::filesystem::directory_iterator entry("/dev/input", error), end;
         !error && entry != end; entry.increment(error)) {
        const std::string path = entry->path().string();
        if (entry->path().filename().string().rfind("event", 0) != 0) {
            continue;
        }
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        libevdev* device = nullptr;
        if (libevdev_new_from_fd(fd, &device) == 0) {
            if (libevdev_has_event_code(device, EV_KEY, static_cast<unsigned>(evdevCode))) {
                const char* name = libevdev_get_name(device);
                keyboards.push_back({path, name ? name : ""});
            }
            libevdev_free(device);
        }
        close(fd);
    }
    std::sort(keyboards.begin(), keyboards.end(),
              [](const EvdevKeyboard& a, const EvdevKeyboard& b) { return a.path < b.path; });
    return keyboards;
}

}  // namespace vurin
