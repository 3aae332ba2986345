#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/keystrokes.h"

namespace vurin {

// KeystrokeSender through one uinput keyboard made for the life of the process: the compositor
// has to see a new device before it passes on its keys, so the device is made at start, never
// at the first paste. Keys are evdev codes, read through the user's layout (KEY_V is "v" only
// where the layout puts it there); text cannot be typed this way.
//
// A modifier the user holds on another keyboard joins our stroke wherever the compositor merges
// its keyboards' modifiers (a user's Ctrl turns a Backspace into "delete word"), and our device
// cannot let it go: the kernel passes on only key changes of the device itself, so a release of
// a key it never pressed reaches nobody. So a stroke waits, a bounded moment, until the user's
// modifiers are up; when they stay down it is sent as it is, said once, and the strokes that
// follow while they stay down do not wait again.
class UinputKeystrokes : public ImmediateKeystrokeSender {
  public:
    // The modifier keys the user holds now (evdev codes); heldModifierKeys() by default.
    using HeldModifiers = std::function<std::vector<int>()>;
    using Pause = std::function<void(std::chrono::milliseconds)>;
    static constexpr std::chrono::milliseconds kModifierWait{500};
    static constexpr std::chrono::milliseconds kModifierLook{20};

    // Makes the device at `path`; nothing, with `why` set, when it cannot.
    static std::unique_ptr<UinputKeystrokes> create(std::string* why = nullptr,
                                                    const std::string& path = "/dev/uinput");
    // Writes the events to `deviceFd`, which it owns (a made device, or a pipe in tests).
    explicit UinputKeystrokes(int deviceFd, bool madeDevice = false, HeldModifiers held = {},
                              Pause pause = {});
    ~UinputKeystrokes() override;
    UinputKeystrokes(const UinputKeystrokes&) = delete;
    UinputKeystrokes& operator=(const UinputKeystrokes&) = delete;

    bool post(Keystroke keystroke) override;

  private:
    void waitForModifiersUp();

    int fd_;
    bool madeDevice_;
    HeldModifiers held_;
    Pause pause_;
    bool modifiersStuck_ = false;  // the last wait ended with modifiers still down
};

}  // namespace vurin
