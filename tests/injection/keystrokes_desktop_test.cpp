// Synthesized keystrokes against real applications: Ctrl+V pastes the clipboard into a GTK
// entry, Shift+Insert pastes the primary selection into xterm, BackSpace deletes; modifiers
// the user holds do not leak into the stroke and are held again afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "injection/desktop_apps.h"
#include "platform/linux/focus_reader_x11.h"
#include "platform/linux/keystrokes_xtest.h"
#include "ui/qt/qt_clipboard.h"

// Last: Xlib's macros (None, Bool, Status) clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vurin {
namespace {

using namespace std::chrono_literals;
using testing::ScratchFolder;
using testing::serveUntil;

class KeystrokesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::ensureQtApplication();
        clipboard_ = std::make_unique<QtClipboard>();
    }

    X11FocusReader reader_;
    XTestKeystrokeSender sender_;
    std::unique_ptr<QtClipboard> clipboard_;
    ScratchFolder folder_;
};

TEST_F(KeystrokesTest, ControlVPastesTheClipboardIntoTheFocusedField) {
    auto gtk = testing::startGtkEntries(folder_, {"say: "});
    ASSERT_TRUE(gtk);
    ASSERT_TRUE(testing::waitUntilFront(reader_, gtk->pid()));
    std::optional<AccessibleElementRef> field;
    ASSERT_TRUE(serveUntil([&] { return (field = reader_.focusedElement()).has_value(); }));

    const std::string dictated = "hello \xF0\x9F\x91\x8B\xF0\x9F\x8F\xBD world";  // 👋🏽
    clipboard_->writeText(ClipboardSelection::clipboard, dictated);
    ASSERT_TRUE(sender_.post(Keystroke::pasteControlV));
    // The test process owns the clipboard: it serves GTK's request while waiting.
    EXPECT_TRUE(serveUntil([&] { return reader_.textOf(*field) == "say: " + dictated; }))
        << reader_.textOf(*field).value_or("(unreadable)");

    ASSERT_TRUE(sender_.post(Keystroke::backspace));
    ASSERT_TRUE(sender_.post(Keystroke::backspace));
    EXPECT_TRUE(serveUntil([&] {
        return reader_.textOf(*field) == "say: hello \xF0\x9F\x91\x8B\xF0\x9F\x8F\xBD wor";
    }));
}

TEST_F(KeystrokesTest, ShiftInsertPastesThePrimarySelectionIntoXterm) {
    const auto received = folder_ / "received";
    // Non-canonical input: cat gets the pasted bytes without waiting for a line end.
    auto xterm = testing::startXterm("stty -icanon -echo; exec cat > '" + received.string() + "'");
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(testing::waitUntilFront(reader_, xterm->pid()));
    ASSERT_TRUE(serveUntil([&] { return std::filesystem::exists(received); }));

    clipboard_->writeText(ClipboardSelection::clipboard, "from the clipboard");
    clipboard_->writeText(ClipboardSelection::primary, "from primary");
    ASSERT_TRUE(sender_.post(Keystroke::pasteShiftInsert));
    EXPECT_TRUE(serveUntil([&] { return testing::readFile(received) == "from primary"; }))
        << testing::readFile(received).value_or("(none)");
}

// A window of the test's own that records what keys arrive with which modifiers.
class KeyRecorder {
  public:
    KeyRecorder() : display_(XOpenDisplay(nullptr)) {
        if (!display_) {
            return;
        }
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = KeyPressMask | KeyReleaseMask | StructureNotifyMask;
        window_ = XCreateWindow(display_, DefaultRootWindow(display_), 0, 0, 200, 100, 0,
                                CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWEventMask, &attributes);
        XMapRaised(display_, window_);
        XEvent event;
        do {
            XWindowEvent(display_, window_, StructureNotifyMask, &event);
        } while (event.type != MapNotify);
    }
    ~KeyRecorder() {
        if (display_) {
            for (KeySym keysym : std::vector<KeySym>(held_)) {
                setKey(keysym, false);  // never leave a key down for the tests that follow
            }
            XDestroyWindow(display_, window_);
            XCloseDisplay(display_);
        }
    }

    Display* display() const { return display_; }

    // Takes the keyboard focus and keeps it: the window manager may still be handing the focus
    // back after the previous test's window went away.
    bool focus() {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        int stable = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            Window focused = 0;
            int revert = 0;
            XGetInputFocus(display_, &focused, &revert);
            if (focused == window_) {
                if (++stable == 3) {
                    return true;
                }
            } else {
                stable = 0;
                XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
                XSync(display_, False);
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // The modifiers (Shift, Control, Alt) held at the next press of `keysym`, waiting up to
    // `limit`.
    std::optional<unsigned> modifiersOfPress(KeySym keysym, std::chrono::milliseconds limit = 3s) {
        const KeyCode keycode = XKeysymToKeycode(display_, keysym);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == KeyPress && event.xkey.keycode == keycode) {
                    return event.xkey.state & (ShiftMask | ControlMask | Mod1Mask);
                }
            }
            std::this_thread::sleep_for(2ms);
        }
        return std::nullopt;
    }

    bool isDown(KeySym keysym) {
        char keys[32] = {};
        XQueryKeymap(display_, keys);
        const KeyCode keycode = XKeysymToKeycode(display_, keysym);
        return (keys[keycode / 8] >> (keycode % 8)) & 1;
    }

    void setKey(KeySym keysym, bool down) {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, keysym), down, CurrentTime);
        XSync(display_, False);
        std::erase(held_, keysym);
        if (down) {
            held_.push_back(keysym);
        }
    }

  private:
    Display* display_;
    Window window_ = 0;
    std::vector<KeySym> held_;
};

TEST_F(KeystrokesTest, HeldModifiersAreLeftOutOfTheStrokeAndHeldAgainAfterwards) {
    KeyRecorder recorder;
    ASSERT_TRUE(recorder.display());
    ASSERT_TRUE(recorder.focus());
    // The user still holds Shift and Alt (the trigger gesture may end with them down).
    recorder.setKey(XK_Shift_L, true);
    recorder.setKey(XK_Alt_L, true);

    ASSERT_TRUE(sender_.post(Keystroke::pasteControlV));
    ASSERT_EQ(recorder.modifiersOfPress(XK_v), unsigned{ControlMask});

    ASSERT_TRUE(sender_.post(Keystroke::returnKey));
    ASSERT_EQ(recorder.modifiersOfPress(XK_Return), 0u);

    EXPECT_TRUE(recorder.isDown(XK_Shift_L));
    EXPECT_TRUE(recorder.isDown(XK_Alt_L));
    EXPECT_FALSE(recorder.isDown(XK_Control_L));
    recorder.setKey(XK_Alt_L, false);
    recorder.setKey(XK_Shift_L, false);

    // A held Control is the stroke's own modifier for Ctrl+V, and still held afterwards.
    recorder.setKey(XK_Control_L, true);
    ASSERT_TRUE(sender_.post(Keystroke::pasteShiftInsert));
    ASSERT_EQ(recorder.modifiersOfPress(XK_Insert), unsigned{ShiftMask});
    ASSERT_TRUE(sender_.post(Keystroke::pasteControlV));
    ASSERT_EQ(recorder.modifiersOfPress(XK_v), unsigned{ControlMask});
    EXPECT_TRUE(recorder.isDown(XK_Control_L));
    EXPECT_FALSE(recorder.isDown(XK_Shift_L));
    recorder.setKey(XK_Control_L, false);
}

TEST(KeystrokesWithoutDisplayTest, NothingIsSentAndTheSenderSaysSo) {
    XTestKeystrokeSender sender(":9999");
    EXPECT_FALSE(sender.available());
    EXPECT_FALSE(sender.post(Keystroke::returnKey));
}

}  // namespace
}  // namespace vurin
