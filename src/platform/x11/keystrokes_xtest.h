#pragma once

#include <memory>
#include <string>

#include "platform/keystrokes.h"

namespace vurin {

class X11Connection;

// KeystrokeSender through the XTest extension on a Display of its own (main thread only).
// Key letters are resolved from their keysyms at every stroke, since the layout may change;
// modifiers the user holds are released around the stroke and pressed again, as
// `xdotool --clearmodifiers` does. The connection is opened on first use and again after it
// broke.
class XTestKeystrokeSender : public ImmediateKeystrokeSender {
  public:
    // `displayName` empty: $DISPLAY.
    explicit XTestKeystrokeSender(std::string displayName = {});
    ~XTestKeystrokeSender() override;

    XTestKeystrokeSender(const XTestKeystrokeSender&) = delete;
    XTestKeystrokeSender& operator=(const XTestKeystrokeSender&) = delete;

    bool post(Keystroke keystroke) override;

    // Whether the X server offers XTest (the stand-in for the accessibility grant).
    bool available();

  private:
    X11Connection* connection();

    const std::string displayName_;
    std::unique_ptr<X11Connection> connection_;
    bool xtest_ = false;
};

}  // namespace vurin
