#pragma once

#include <memory>
#include <string>

#include "platform/keystrokes.h"

namespace vurin {

// KeystrokeSender through the compositor's virtual-keyboard protocol
// (zwp_virtual_keyboard_manager_v1, wlroots compositors), on a Wayland connection of its own
// (main thread only). The keyboard uploads a keymap of its own, so strokes and text do not
// depend on the user's layout; text whose characters the keymap lacks gets them on spare key
// codes and the keymap is uploaded again first. The compositor takes the virtual keyboard's own
// modifier state for its events, so the user's held modifiers never mix into a stroke. All
// events of one call are written at once and followed by a single round trip, which shows
// whether the compositor took them.
class VirtualKeyboardKeystrokes : public ImmediateKeystrokeSender {
  public:
    // Nothing, with `why` set, when there is no compositor or it offers no virtual keyboard.
    static std::unique_ptr<VirtualKeyboardKeystrokes> open(std::string* why = nullptr);
    ~VirtualKeyboardKeystrokes() override;
    VirtualKeyboardKeystrokes(const VirtualKeyboardKeystrokes&) = delete;
    VirtualKeyboardKeystrokes& operator=(const VirtualKeyboardKeystrokes&) = delete;

    bool post(Keystroke keystroke) override;
    bool typeText(const std::string& text) override;

  private:
    struct Connection;
    VirtualKeyboardKeystrokes();
    // The open connection, reopened once after it broke; null with one log line otherwise.
    Connection* connection();

    std::unique_ptr<Connection> connection_;
};

}  // namespace vurin
