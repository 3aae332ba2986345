#pragma once

// Presses keys on the test session's X display as a user would, through XTest.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace vurin::testing {

// F13 by raw keycode: the session's keymap names evdev 183 + 8 XF86Tools, not F13.
constexpr unsigned kKeycodeF13 = 191;

class XTestTypist {
  public:
    XTestTypist() : display_(XOpenDisplay(nullptr)) {
        int event = 0, error = 0, major = 0, minor = 0;
        usable_ = display_ && XTestQueryExtension(display_, &event, &error, &major, &minor);
    }
    ~XTestTypist() {
        if (display_) {
            XCloseDisplay(display_);
        }
    }

    XTestTypist(const XTestTypist&) = delete;
    XTestTypist& operator=(const XTestTypist&) = delete;
    bool usable() const { return usable_; }
    Display* display() const { return display_; }
    // One press or release, sent and processed by the server before this returns.
    void key(unsigned keycode, bool press) {
        XTestFakeKeyEvent(display_, keycode, press ? True : False, CurrentTime);
        XSync(display_, False);
    }
    void keysym(KeySym symbol, bool press) { key(XKeysymToKeycode(display_, symbol), press); }
    void tap(unsigned keycode) {
        key(keycode, true);
        key(keycode, false);
    }

  private:
    Display* display_;
    bool usable_ = false;
};

}  // namespace vurin::testing
