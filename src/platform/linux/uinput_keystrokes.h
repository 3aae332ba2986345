#pragma once

#include <memory>
#include <string>

#include "platform/keystrokes.h"

namespace vurin {

// KeystrokeSender through one uinput keyboard made for the life of the process: the compositor
// has to see a new device before it passes on its keys, so the device is made at start, never
// at the first paste. Keys are evdev codes, read through the user's layout (KEY_V is "v" only
// where the layout puts it there); text cannot be typed this way. Modifiers the user holds on
// another keyboard stay held: the compositor merges the devices' modifiers.
class UinputKeystrokes : public ImmediateKeystrokeSender {
  public:
    // Makes the device at `path`; nothing, with `why` set, when it cannot.
    static std::unique_ptr<UinputKeystrokes> create(std::string* why = nullptr,
                                                    const std::string& path = "/dev/uinput");
    // Writes the events to `deviceFd`, which it owns (a made device, or a pipe in tests).
    explicit UinputKeystrokes(int deviceFd, bool madeDevice = false);
    ~UinputKeystrokes() override;
    UinputKeystrokes(const UinputKeystrokes&) = delete;
    UinputKeystrokes& operator=(const UinputKeystrokes&) = delete;

    bool post(Keystroke keystroke) override;

  private:
    int fd_;
    bool madeDevice_;
};

}  // namespace vurin
