#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/key_grab.h"

namespace vurin {

// Watches one key on every keyboard this user may read, without taking it from anyone: the key
// still reaches the focused program. Implementations: evdev (platform/linux), fakes in tests.
class KeyboardWatch {
  public:
    struct Handlers {
        // Each press, repeat and release of the key; `source` says which keyboard, on a thread
        // of the implementation's.
        std::function<void(const std::string& source, const KeyGrabEvent& event)> onKey;
        // A keyboard stopped delivering (unplugged, read error); the others go on.
        std::function<void(const std::string& source, const KeyGrabResult& result)> onFailure;
        // A keyboard that has the key appeared after start() (plugged in, or made readable) and
        // is read from now on; on a thread of the implementation's.
        std::function<void(const std::string& source)> onAdded;
    };

    virtual ~KeyboardWatch() = default;

    // Starts watching `evdevCode`; returns the keyboards read ("/dev/input/event3 (name)"),
    // empty when none can be read yet (keyboards that come later are told through onAdded).
    // Stops a previous watch first.
    virtual std::vector<std::string> start(int evdevCode, Handlers handlers) = 0;
    // No handler runs after it returns. Idempotent.
    virtual void stop() = 0;
};

}  // namespace vurin
