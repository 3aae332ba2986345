#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace vurin {

// The keystrokes Vurin synthesizes into the focused application.
enum class Keystroke {
    pasteControlV,       // ordinary applications
    pasteShiftInsert,    // terminal emulators that paste the clipboard or both selections
    pasteControlShiftV,  // terminal emulators, where the primary selection cannot be set
    returnKey,
    backspace,
};

// How much of one request reached the desktop, in order: `sent` of `total` units (strokes, or
// characters of a typed text). A path that fails part-way reports what went before the failure,
// so that the caller can say what really arrived.
struct KeystrokeOutcome {
    std::size_t sent = 0;
    std::size_t total = 0;
    // Why not everything was sent, when the path knew before it began (words for a log line).
    std::string why;

    bool complete() const { return sent == total; }
};

// Synthesizes key events into the focused application. Modifiers the user still holds are
// released around a stroke and pressed again afterwards, so the stroke carries exactly its own
// modifiers.
//
// Requests are asynchronous: a path that must wait for another process (a portal's consent, its
// answer to every event) does so off the caller's thread. `done` runs exactly once, with the
// outcome: inline before the call returns on a path that answers at once, otherwise later on a
// thread of the path's own.
class KeystrokeSender {
  public:
    using Done = std::function<void(const KeystrokeOutcome& outcome)>;

    virtual ~KeystrokeSender() = default;

    // `count` strokes of `keystroke`, `interval` apart (applications drop keys that come faster
    // than they take them).
    virtual void send(Keystroke keystroke, std::size_t count, std::chrono::microseconds interval,
                      Done done) = 0;
    // Types UTF-8 `text` as key events, for a session where the clipboard cannot be set. A path
    // that cannot type text reports nothing sent. Units are code points.
    virtual void type(const std::string& text, Done done) = 0;
    // A path that must ask the user first (a portal's consent) asks now, ahead of the first
    // stroke; the others have nothing to do. Returns at once.
    virtual void prepare() {}
};

// A path that answers at once (a display connection of its own, a device): strokes are posted
// one by one on the caller's thread and `done` runs before the request returns.
class ImmediateKeystrokeSender : public KeystrokeSender {
  public:
    // One stroke; false when it could not be created or posted (nothing was sent).
    virtual bool post(Keystroke keystroke) = 0;
    // The whole text, or false with nothing sent: the default cannot type text.
    virtual bool typeText(const std::string& text) {
        (void)text;
        return false;
    }

    void send(Keystroke keystroke, std::size_t count, std::chrono::microseconds interval,
              Done done) override;
    void type(const std::string& text, Done done) override;
};

// The number of code points in UTF-8 `text` (the unit of a typed text's outcome).
std::size_t codePointCount(const std::string& text);

}  // namespace vurin
