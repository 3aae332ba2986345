#include "platform/linux/evdev_keyboards.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>

#include "platform/linux/own_input_devices.h"

namespace vurin {

std::optional<std::string> readableKeyboardName(const std::string& path, int evdevCode) {
    if (isOwnInputDevice(path)) {
        return std::nullopt;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    libevdev* device = nullptr;
    if (libevdev_new_from_fd(fd, &device) == 0) {
        if (libevdev_has_event_code(device, EV_KEY, static_cast<unsigned>(evdevCode))) {
            const char* name = libevdev_get_name(device);
            found = name ? name : "";
        }
        libevdev_free(device);
    }
    close(fd);
    return found;
}

}  // namespace vurin
