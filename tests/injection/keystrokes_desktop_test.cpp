// Synthesized keystrokes leave the modifiers the user holds out of the stroke and hold them
// again afterwards. (Pasting and deleting against real applications: paste_injector.)
#include <gtest/gtest.h>

#include "platform/linux/keystrokes_xtest.h"
#include "support/testing.h"

// Last: Xlib's macros (None, Bool, Status) clash with the headers above.
#include <X11/keysym.h>

#include "support/xtest_typist.h"

namespace vurin::testing {
namespace {

// A window of the test's own that has the keyboard focus and records the modifiers (Shift,
// Control, Alt) of each key press.
class KeyRecorder : public XTestTypist {
  public:
    KeyRecorder() {
        if (!usable()) {
            return;
        }
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = KeyPressMask | StructureNotifyMask;
        window_ = XCreateWindow(display(), DefaultRootWindow(display()), 0, 0, 200, 100, 0,
                                CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWEventMask, &attributes);
        XMapRaised(display(), window_);
        for (XEvent event{}; event.type != MapNotify;) {
            XWindowEvent(display(), window_, StructureNotifyMask, &event);
        }
    }
    ~KeyRecorder() {
        if (!usable()) {
            return;
        }
        for (KeySym held : {XK_Shift_L, XK_Alt_L, XK_Control_L}) {
            keysym(held, false);  // never leave a key down for the tests that follow
        }
        XDestroyWindow(display(), window_);
    }
    // Takes the focus and keeps it: the window manager may still be handing it back after the
    // previous test's window went away.
    bool focus() {
        int stable = 0;
        return eventually([&] {
            Window focused = 0;
            int revert = 0;
            XGetInputFocus(display(), &focused, &revert);
            stable = focused == window_ ? stable + 1 : 0;
            XSetInputFocus(display(), window_, RevertToParent, CurrentTime);
            XSync(display(), False);
            return stable == 3;
        });
    }
    std::optional<unsigned> modifiersOfPress(KeySym symbol) {
        std::optional<unsigned> found;
        eventually([&] {
            for (XEvent event; !found && XPending(display()) > 0;) {
                XNextEvent(display(), &event);
                if (event.type == KeyPress &&
                    event.xkey.keycode == XKeysymToKeycode(display(), symbol)) {
                    found = event.xkey.state & (ShiftMask | ControlMask | Mod1Mask);
                }
            }
            return found.has_value();
        });
        return found;
    }
    bool isDown(KeySym symbol) {
        char keys[32] = {};
        XQueryKeymap(display(), keys);
        const KeyCode code = XKeysymToKeycode(display(), symbol);
        return (keys[code / 8] >> (code % 8)) & 1;
    }

  private:
    Window window_ = 0;
};

TEST(KeystrokesTest, HeldModifiersAreLeftOutOfTheStrokeAndHeldAgainAfterwards) {
    XTestKeystrokeSender sender;
    KeyRecorder user;
    ASSERT_TRUE(user.usable());
    ASSERT_TRUE(user.focus());
    // The user still holds Shift and Alt (the trigger gesture may end with them down).
    user.keysym(XK_Shift_L, true);
    user.keysym(XK_Alt_L, true);
    ASSERT_TRUE(sender.post(Keystroke::pasteControlV));
    EXPECT_EQ(user.modifiersOfPress(XK_v), unsigned{ControlMask});
    ASSERT_TRUE(sender.post(Keystroke::returnKey));
    EXPECT_EQ(user.modifiersOfPress(XK_Return), 0u);
    EXPECT_TRUE(user.isDown(XK_Shift_L));
    EXPECT_TRUE(user.isDown(XK_Alt_L));
    EXPECT_FALSE(user.isDown(XK_Control_L));
    user.keysym(XK_Alt_L, false);
    user.keysym(XK_Shift_L, false);

    // A held Control is the stroke's own modifier for Ctrl+V, and still held afterwards.
    user.keysym(XK_Control_L, true);
    ASSERT_TRUE(sender.post(Keystroke::pasteShiftInsert));
    EXPECT_EQ(user.modifiersOfPress(XK_Insert), unsigned{ShiftMask});
    ASSERT_TRUE(sender.post(Keystroke::pasteControlV));
    EXPECT_EQ(user.modifiersOfPress(XK_v), unsigned{ControlMask});
    EXPECT_TRUE(user.isDown(XK_Control_L));
    EXPECT_FALSE(user.isDown(XK_Shift_L));
}

TEST(KeystrokesWithoutDisplayTest, NothingIsSentAndTheSenderSaysSo) {
    XTestKeystrokeSender sender(":9999");
    EXPECT_FALSE(sender.available());
    EXPECT_FALSE(sender.post(Keystroke::returnKey));
}

}  // namespace
}  // namespace vurin::testing
