#pragma once

#include <string>

namespace vurin {

// The keystrokes Vurin synthesizes into the focused application.
enum class Keystroke {
    pasteControlV,     // ordinary applications
    pasteShiftInsert,  // terminal emulators
    returnKey,
    backspace,
};

// Posts one key-down and key-up into the focused application. Modifiers the user still
// holds are released around the stroke and pressed again afterwards, so the stroke carries
// exactly its own modifiers.
class KeystrokeSender {
  public:
    virtual ~KeystrokeSender() = default;
    // False when the stroke could not be created or posted (nothing was sent).
    virtual bool post(Keystroke keystroke) = 0;
    // Types UTF-8 `text` into the focused application as key events, for a session where the
    // clipboard cannot be set (no data-control). False when this path cannot type text or the
    // events could not be posted.
    // A path that must ask the user first (a portal's consent) asks now, ahead of the first
    // stroke; the others have nothing to do. Returns at once.
    virtual void prepare() {}
    virtual bool typeText(const std::string& text) {
        (void)text;
        return false;
    }
};

}  // namespace vurin
