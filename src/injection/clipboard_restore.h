#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "injection/clipboard_keeper.h"
#include "platform/clipboard.h"
#include "platform/main_queue.h"

namespace vurin {

// When the user's clipboard comes back after a paste: once the paste's target has read Vurin's
// text, not after a fixed delay. A program that is busy when the paste keystroke arrives (a
// chat under load, a browser tab that renders, a remote desktop) reads later, and would paste
// whatever came back in the meantime, the user's previous clipboard, perhaps a password.
//
// A read counts when it is of a text format and comes from the target: its process where both
// are known, else a read that began after the keystroke was sent, from no process that was
// seen reading before one (a clipboard manager reads every new owner at once). The clipboard comes
// back kReadGraceSeconds after the last such read (programs fetch several formats in a row), at
// the latest kReadTimeoutSeconds after the keystroke, with one line then. A clipboard that
// reports no reads keeps the fixed kFixedDelaySeconds. A clipboard the user changed meanwhile
// is left alone, as ever. Main thread; reads reach it from any thread.
class ClipboardRestore : public std::enable_shared_from_this<ClipboardRestore> {
  public:
    static constexpr double kReadGraceSeconds = 0.05;
    static constexpr double kReadTimeoutSeconds = 5.0;
    static constexpr double kFixedDelaySeconds = 0.4;

    static std::shared_ptr<ClipboardRestore> create(std::shared_ptr<MainQueue> mainQueue,
                                                    std::shared_ptr<Clipboard> clipboard,
                                                    std::shared_ptr<ClipboardKeeper> keeper);

    // The paste's writes, made a moment ago; its keystroke goes next, and reads from now on may
    // be the target's. `targetProcess`: 0 when unknown.
    void await(std::vector<SelectionWrite> writes, int targetProcess);
    // The keystroke has arrived: the waits for a read start now (a slow keystroke path must not
    // eat into them).
    void keystrokeDelivered();
    // Brings back what still waits, now: a new paste is about to save the clipboard, or Vurin
    // quits.
    void restorePending();
    // The keystroke failed: the writes are taken back at once, whatever happened since.
    void takeBack();

  private:
    struct Awaited {
        std::vector<SelectionWrite> writes;
        int target = 0;
        std::uint64_t readsBefore = 0;  // reads begun before the keystroke
        bool read = false;
        std::shared_ptr<WorkItem> due;
    };

    ClipboardRestore(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<ClipboardKeeper> keeper,
                     bool reportsReads);
    void observe(Clipboard& clipboard);
    void read(const ClipboardRead& read, std::uint64_t serial, double at);
    void restoreAfter(double seconds, bool timedOut);
    void cancelDue();
    void restore(bool timedOut);

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<ClipboardKeeper> keeper_;
    const bool reportsReads_;
    std::atomic<std::uint64_t> reads_ = 0;  // every read reported, any thread
    std::optional<Awaited> awaited_;
    std::set<int> everyOwnerReaders_;  // processes seen reading before a keystroke
};

// Whether a program reading `format` asks for the text (not a list of targets or a marker).
bool isTextFormat(const std::string& format);

}  // namespace vurin
