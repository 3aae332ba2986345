#include "platform/linux/held_modifiers.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <system_error>

#include "platform/linux/own_input_devices.h"

namespace vurin {

namespace {

constexpr int kModifiers[] = {KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTSHIFT, KEY_RIGHTSHIFT,
                              KEY_LEFTALT,  KEY_RIGHTALT,  KEY_LEFTMETA,  KEY_RIGHTMETA};

}  // namespace

std::vector<int> heldModifierKeys(const std::string& directory) {
    constexpr std::size_t bitsPerWord = sizeof(unsigned long) * CHAR_BIT;
    std::vector<int> held;
    std::error_code error;
    // Stepped with an error code: a node that vanishes while listed must not throw.
    for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string path = entry->path().string();
        if (!entry->path().filename().string().starts_with("event") || isOwnInputDevice(path)) {
            continue;
        }
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        unsigned long keys[KEY_MAX / bitsPerWord + 1] = {};
        const bool read = ioctl(fd, EVIOCGKEY(sizeof keys), keys) >= 0;
        close(fd);
        for (const int key : kModifiers) {
            if (read && (keys[key / bitsPerWord] & (1UL << (key % bitsPerWord))) != 0) {
                held.push_back(key);
            }
        }
    }
    std::sort(held.begin(), held.end());
    held.erase(std::unique(held.begin(), held.end()), held.end());
    return held;
}

}  // namespace vurin
