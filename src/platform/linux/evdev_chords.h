#pragma once

#include <linux/input-event-codes.h>

#include <utility>
#include <vector>

#include "platform/keystrokes.h"

namespace vurin {

// A keystroke as the key changes a keyboard would report, by evdev code: the modifier goes
// down, the key down and up, the modifier up. For the paths that take key codes (uinput, the
// RemoteDesktop portal); they go through the user's layout.
inline std::vector<std::pair<int, bool>> evdevKeyChanges(Keystroke keystroke) {
    std::vector<int> modifiers;
    int key = 0;
    switch (keystroke) {
        case Keystroke::pasteControlV:
            modifiers = {KEY_LEFTCTRL}, key = KEY_V;
            break;
        case Keystroke::pasteShiftInsert:
            modifiers = {KEY_LEFTSHIFT}, key = KEY_INSERT;
            break;
        case Keystroke::pasteControlShiftV:
            modifiers = {KEY_LEFTCTRL, KEY_LEFTSHIFT}, key = KEY_V;
            break;
        case Keystroke::returnKey:
            key = KEY_ENTER;
            break;
        case Keystroke::backspace:
            key = KEY_BACKSPACE;
            break;
    }
    std::vector<std::pair<int, bool>> changes;
    for (const int modifier : modifiers) {
        changes.emplace_back(modifier, true);
    }
    changes.emplace_back(key, true);
    changes.emplace_back(key, false);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        changes.emplace_back(*it, false);
    }
    return changes;
}

}  // namespace vurin
