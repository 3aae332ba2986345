#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/key_grab.h"

namespace vurin {

// Watches one key on a keyboard's evdev node (or anything else that delivers `input_event`
// records, such as a pipe) on a thread of its own. It only reads: the key still reaches every
// other program. Events are reported as the X11 grab reports them: auto-repeat (value 2) is a
// press again without a release in between.
//
// After SYN_DROPPED the kernel has thrown events away; those up to the next SYN_REPORT are
// incomplete and are skipped. A press lost so is not reported late. A key that was down is
// reported released only when the device says it is up now (EVIOCGKEY); a source that cannot
// say (a pipe) leaves it down until its own release arrives.
class EvdevKeyReader {
  public:
    struct Handlers {
        // Each press, repeat and release of the watched key, on the reader thread.
        std::function<void(const KeyGrabEvent&)> onKey;
        // The source ended (end of file or a read error); the reader thread ends after it.
        // Called at most once, and never once stop() has returned.
        std::function<void(const KeyGrabResult&)> onFailure;
    };

    EvdevKeyReader();
    ~EvdevKeyReader();
    EvdevKeyReader(const EvdevKeyReader&) = delete;
    EvdevKeyReader& operator=(const EvdevKeyReader&) = delete;

    // Takes `fd` (closed by stop()) and starts watching `evdevCode`. `source` names the device
    // in log lines ("/dev/input/event3"). Fails when already running or without a wake pipe.
    KeyGrabResult start(int fd, std::string source, int evdevCode, Handlers handlers);

    // Wakes and joins the reader thread and closes the source. Idempotent.
    void stop();

  private:
    struct Reader;
    std::unique_ptr<Reader> reader_;
    std::thread thread_;
};

}  // namespace vurin
