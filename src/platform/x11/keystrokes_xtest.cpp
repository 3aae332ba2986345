#include "platform/x11/keystrokes_xtest.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/x11/x11_connection.h"

namespace vurin {

namespace {

struct Chord {
    std::vector<KeySym> modifiers;
    KeySym key;
};

Chord chordFor(Keystroke keystroke) {
    switch (keystroke) {
        case Keystroke::pasteControlV:
            return {{XK_Control_L}, XK_v};
        case Keystroke::pasteShiftInsert:
            return {{XK_Shift_L}, XK_Insert};
        case Keystroke::pasteControlShiftV:
            return {{XK_Control_L, XK_Shift_L}, XK_v};
        case Keystroke::returnKey:
            return {{}, XK_Return};
        case Keystroke::backspace:
            return {{}, XK_BackSpace};
    }
    return {{}, NoSymbol};
}

bool isDown(const char keys[32], KeyCode keycode) {
    return (keys[keycode / 8] >> (keycode % 8)) & 1;
}

// The modifier keys that are down now, each once.
std::vector<KeyCode> heldModifierKeys(Display* display) {
    std::vector<KeyCode> held;
    char keys[32] = {};
    XQueryKeymap(display, keys);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) {
        return held;
    }
    for (int index = 0; index < 8 * map->max_keypermod; ++index) {
        const KeyCode keycode = map->modifiermap[index];
        if (keycode != 0 && isDown(keys, keycode) &&
            std::find(held.begin(), held.end(), keycode) == held.end()) {
            held.push_back(keycode);
        }
    }
    XFreeModifiermap(map);
    return held;
}

}  // namespace

XTestKeystrokeSender::XTestKeystrokeSender(std::string displayName)
    : displayName_(std::move(displayName)) {}

XTestKeystrokeSender::~XTestKeystrokeSender() = default;

X11Connection* XTestKeystrokeSender::connection() {
    if (connection_ && connection_->lost()) {
        connection_.reset();
    }
    if (!connection_) {
        connection_ = X11Connection::open(displayName_);
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        xtest_ = connection_ && XTestQueryExtension(connection_->display(), &eventBase, &errorBase,
                                                    &major, &minor);
    }
    return connection_.get();
}

bool XTestKeystrokeSender::available() {
    return connection() && xtest_;
}

bool XTestKeystrokeSender::post(Keystroke keystroke) {
    X11Connection* x11 = connection();
    if (!x11 || !xtest_) {
        return false;
    }
    Display* display = x11->display();
    const Chord chord = chordFor(keystroke);
    std::vector<KeyCode> modifiers;
    for (KeySym keysym : chord.modifiers) {
        const KeyCode keycode = XKeysymToKeycode(display, keysym);
        if (keycode == 0) {
            return false;
        }
        modifiers.push_back(keycode);
    }
    const KeyCode key = XKeysymToKeycode(display, chord.key);
    if (key == 0) {
        return false;
    }

    const std::vector<KeyCode> held = heldModifierKeys(display);
    for (KeyCode keycode : held) {
        XTestFakeKeyEvent(display, keycode, False, CurrentTime);
    }
    for (KeyCode keycode : modifiers) {
        XTestFakeKeyEvent(display, keycode, True, CurrentTime);
    }
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        XTestFakeKeyEvent(display, *it, False, CurrentTime);
    }
    for (KeyCode keycode : held) {
        XTestFakeKeyEvent(display, keycode, True, CurrentTime);
    }
    XSync(display, False);
    return !x11->lost() && x11->takeError() == 0;
}

}  // namespace vurin
