#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/keyboard_watch.h"

namespace vurin {

class EvdevKeyReader;

// KeyboardWatch over the event nodes this user may read (the `input` group, or an ACL the desktop
// grants): one reader thread per keyboard that has the key, and a thread that follows the folder
// (inotify), so that a keyboard plugged in later, or one whose node becomes readable later, is
// read too (Handlers::onAdded). A keyboard that goes ends its reader (Handlers::onFailure) and is
// dropped; plugged in again it is read again.
class EvdevKeyboardWatch : public KeyboardWatch {
  public:
    struct Devices {
        std::string directory = "/dev/input";
        // The keyboard's name when the node at `path` is one to read for `evdevCode`
        // (readableKeyboardName() on a real system; tests take pipes for keyboards).
        std::function<std::optional<std::string>(const std::string& path, int evdevCode)> probe;
    };

    explicit EvdevKeyboardWatch(Devices devices);
    ~EvdevKeyboardWatch() override;
    EvdevKeyboardWatch(const EvdevKeyboardWatch&) = delete;
    EvdevKeyboardWatch& operator=(const EvdevKeyboardWatch&) = delete;

    std::vector<std::string> start(int evdevCode, Handlers handlers) override;
    void stop() override;

  private:
    struct Reading {
        std::string source;  // "/dev/input/event3 name"
        std::unique_ptr<EvdevKeyReader> reader;
        ino_t node = 0;  // tells a new device at the same path from the one that went
    };

    std::optional<std::string> tryRead(const std::string& path);
    void follow();
    void onFolderEvents();
    void reapEnded();
    void wake();

    const Devices devices_;
    // Set by start() before the threads it starts, read-only until stop().
    int evdevCode_ = 0;
    Handlers handlers_;
    int inotify_ = -1;
    int wake_ = -1;  // an eventfd: stop, or a reader ended
    std::thread follower_;

    std::mutex mutex_;  // guards the fields below
    std::map<std::string, Reading> readers_;
    std::vector<std::pair<std::string, ino_t>> ended_;  // readers whose keyboard went
    bool stopping_ = false;
};

}  // namespace vurin
