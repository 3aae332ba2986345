#pragma once

#include <string>

#include "platform/keystrokes.h"

namespace vurin {

// A Wayland session's keystrokes until a path into other programs is built (virtual keyboard,
// the RemoteDesktop portal, uinput): every stroke is refused with one log line naming what the
// desktop offers, so a paste says plainly why nothing arrived.
class UnbuiltWaylandKeystrokes : public KeystrokeSender {
  public:
    // `offered`: the paths this desktop offers, for the log line ("虚拟键盘协议").
    explicit UnbuiltWaylandKeystrokes(std::string offered);
    bool post(Keystroke keystroke) override;

  private:
    const std::string offered_;
};

}  // namespace vurin
