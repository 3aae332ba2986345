#include "platform/linux/uinput_keystrokes.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/linux/evdev_chords.h"
#include "platform/linux/held_modifiers.h"
#include "platform/linux/own_input_devices.h"
#include "support/log.h"

namespace vurin {

namespace {

constexpr int kKeys[] = {KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_V, KEY_INSERT, KEY_ENTER, KEY_BACKSPACE};

input_event event(int type, int code, int value) {
    input_event made{};
    made.type = static_cast<__u16>(type);
    made.code = static_cast<__u16>(code);
    made.value = value;
    return made;
}

}  // namespace

std::unique_ptr<UinputKeystrokes> UinputKeystrokes::create(std::string* why,
                                                           const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (why) {
            *why = "无法打开 " + path + ":" + std::strerror(errno);
        }
        return nullptr;
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, "Vurin keystrokes", UINPUT_MAX_NAME_SIZE - 1);
    bool made = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0;
    for (int key : kKeys) {
        made = made && ioctl(fd, UI_SET_KEYBIT, key) == 0;
    }
    made = made && ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ioctl(fd, UI_DEV_CREATE) == 0;
    if (!made) {
        if (why) {
            *why = "无法在 " + path + " 上创建键盘设备:" + std::strerror(errno);
        }
        ::close(fd);
        return nullptr;
    }
    // Known by the kernel's name for it, so that no keyboard reader here takes our keys for the
    // user's (a name alone any program may copy).
    char sysname[64] = {};
    if (ioctl(fd, UI_GET_SYSNAME(sizeof sysname - 1), sysname) >= 0) {
        markOwnInputDevice(sysname);
    } else {
        log(std::string("⚠️ uinput:读不到自己设备的内核名称(") +
            std::strerror(errno) + "),键盘读取可能把合成按键当成用户的");
    }
    return std::make_unique<UinputKeystrokes>(fd, true);
}

UinputKeystrokes::UinputKeystrokes(int deviceFd, bool madeDevice, HeldModifiers held, Pause pause)
    : fd_(deviceFd),
      madeDevice_(madeDevice),
      held_(held ? std::move(held) : HeldModifiers([] { return heldModifierKeys(); })),
      pause_(pause ? std::move(pause) : Pause([](std::chrono::milliseconds wait) {
          std::this_thread::sleep_for(wait);
      })) {}

UinputKeystrokes::~UinputKeystrokes() {
    if (madeDevice_) {
        ioctl(fd_, UI_DEV_DESTROY);
    }
    ::close(fd_);
}

void UinputKeystrokes::waitForModifiersUp() {
    std::vector<int> held = held_();
    if (held.empty()) {
        modifiersStuck_ = false;
        return;
    }
    if (modifiersStuck_) {
        return;
    }
    for (auto waited = std::chrono::milliseconds(0); !held.empty() && waited < kModifierWait;
         waited += kModifierLook) {
        pause_(kModifierLook);
        held = held_();
    }
    if (held.empty()) {
        return;
    }
    modifiersStuck_ = true;
    std::string keys;
    for (const int key : held) {
        keys += (keys.empty() ? "" : "、") + std::to_string(key);
    }
    log("⚠️ uinput:修饰键(evdev " + keys + ")" + std::to_string(kModifierWait.count()) +
        " 毫秒后仍被按住,合成的按键会带上它");
}

bool UinputKeystrokes::post(Keystroke keystroke) {
    waitForModifiersUp();
    // Each key change is a frame of its own, as a real keyboard reports it.
    std::vector<input_event> events;
    for (const auto& [code, down] : evdevKeyChanges(keystroke)) {
        events.push_back(event(EV_KEY, code, down ? 1 : 0));
        events.push_back(event(EV_SYN, SYN_REPORT, 0));
    }
    const auto size = static_cast<ssize_t>(events.size() * sizeof(input_event));
    const ssize_t written = ::write(fd_, events.data(), static_cast<std::size_t>(size));
    if (written != size) {
        log(std::string("❌ uinput:按键没有写入设备(") +
            (written < 0 ? std::strerror(errno) : "只写入了一部分") + ")");
        return false;
    }
    return true;
}

}  // namespace vurin
