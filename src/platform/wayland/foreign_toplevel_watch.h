#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vurin {

// Follows a wlroots compositor's windows through `zwlr_foreign_toplevel_manager_v1` (the task
// bar protocol), over a Wayland connection and a thread of its own, and keeps the one that is
// activated (has the keyboard). The compositor never tells a window's process; a window is known
// by its app id and by an id of ours, unique per window for the life of the process. The header
// stays free of Wayland.
//
// When the compositor connection ends (a compositor restart), it says so once, reads as not
// following (the caller falls back to what else it knows), connects again in the background at
// growing intervals up to a few seconds, and says so once the windows are listed again.
class ForeignToplevelWatch {
  public:
    struct Toplevel {
        std::uint64_t id = 0;  // 1, 2, … in the order the compositor announced the windows
        std::string appId;
        std::string title;
        // When the compositor said it was activated, on our clock.
        std::chrono::steady_clock::time_point activatedAt;
    };
    struct Reading {
        // False when the compositor has no such protocol, the connection failed or was lost:
        // the active window is then unknown, not absent.
        bool following = false;
        std::optional<Toplevel> active;
    };

    ForeignToplevelWatch();  // connects on its thread at once
    ~ForeignToplevelWatch();
    ForeignToplevelWatch(const ForeignToplevelWatch&) = delete;
    ForeignToplevelWatch& operator=(const ForeignToplevelWatch&) = delete;

    // The activated window as the compositor sees it now: what it has said up to a round trip
    // made for this call, waited for at most `freshWait` (else the last report). Until the
    // compositor has listed its windows once, waits for that at most `firstListWait`.
    Reading read(std::chrono::milliseconds firstListWait, std::chrono::milliseconds freshWait);

  private:
    struct Connection;
    enum class Ended { stopped, absent, finished, lost };
    void run();
    Ended follow(bool again);
    bool waitForStop(std::chrono::milliseconds wait);
    void publish(Reading reading);
    void answer(std::uint64_t generation);

    std::mutex mutex_;
    std::condition_variable listed_;
    std::optional<Reading> reading_;  // absent until the first list (or the failure) is known
    int wake_ = -1;                   // an eventfd: the thread's stop signal
    int ask_ = -1;                    // an eventfd: a reader wants a round trip
    std::uint64_t asked_ = 0;         // round trips asked for, and answered (guarded by mutex_)
    std::uint64_t answered_ = 0;
    std::uint64_t lastId_ = 0;  // the thread's: ids stay unique across connections
    std::thread thread_;
};

}  // namespace vurin
