#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vurin {

// One raw key event seen by the grab: the evdev code (X keycode minus 8) and whether it is a
// press. A key held down shows as repeated presses without releases in between.
struct KeyGrabEvent {
    int evdevCode = 0;
    bool pressed = false;
};

enum class KeyGrabStatus {
    ok,
    refused,      // another program holds the key (the display server said so)
    unavailable,  // no display server, or the connection failed or was lost
};

struct KeyGrabResult {
    KeyGrabStatus status = KeyGrabStatus::ok;
    std::string reason;  // one line for the log when status is not ok
};

// A system-wide grab of one key on a capture thread of its own: the grabbed key reaches no other
// program, whatever modifiers are held. Implementations: X11 (key_grab_x11.cpp), fakes in tests.
class KeyGrab {
  public:
    struct Handlers {
        // Every key event of the grab, on the capture thread, in server order. Must return
        // quickly; it may call grabKey() and setKeyboardGrabbed().
        std::function<void(const KeyGrabEvent&)> onKey;
        // The outcome of a grabKey() request, before the next key event is delivered (on the
        // capture thread). A refused key leaves the key grabbed before it in place.
        std::function<void(int evdevCode, const KeyGrabResult&)> onKeyGrabbed;
        // The connection was lost; the capture thread has ended (on that thread).
        std::function<void(const KeyGrabResult&)> onFailure;
    };

    virtual ~KeyGrab() = default;

    // Connects, grabs `evdevCode` (none: no key, only the keyboard when asked for) and starts
    // the capture thread. Blocks until the server has answered the grab, for a second at most:
    // then it reports unavailable, the attempt goes on, and the next start waits for that one
    // (with its key and handlers). A refused key starts nothing. Does nothing but report ok
    // while running.
    virtual KeyGrabResult start(std::optional<int> evdevCode, Handlers handlers) = 0;

    // Whether the capture thread is running with a live connection.
    virtual bool isRunning() const = 0;

    // The key the running capture holds now, if any.
    virtual std::optional<int> grabbedKey() const = 0;

    // Any thread: moves the grab to another key, taking the new key before giving up the old
    // one (asynchronously; the outcome goes to onKeyGrabbed).
    virtual void grabKey(int evdevCode) = 0;

    // Any thread: while true, every key of the keyboard is delivered to onKey and to no other
    // program (taking the keyboard again whenever another program held it).
    virtual void setKeyboardGrabbed(bool grabbed) = 0;

    // The keysym name of an evdev code in the current keyboard map ("Print"), when known.
    virtual std::optional<std::string> keyName(int evdevCode) const = 0;

    // Stops and joins the capture thread and closes the connection. Idempotent.
    virtual void stop() = 0;
};

}  // namespace vurin
