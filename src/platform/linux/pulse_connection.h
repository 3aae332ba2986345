#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vurin {

// How long any exchange with the sound server may take before it counts as gone. A local
// server answers within milliseconds; one that has stalled must fail a press within a second.
inline constexpr std::chrono::milliseconds kPulseServerTimeout{800};
// How long a first connection may take where nobody waits for it: at login a socket-activated
// server (pipewire-pulse) often needs longer than an exchange to come up.
inline constexpr std::chrono::milliseconds kPulseConnectTimeout{3000};

// Holds the threaded main loop's lock for a scope. Every pa_* call outside the loop's own
// callbacks needs it.
class PulseMainloopLock {
  public:
    explicit PulseMainloopLock(pa_threaded_mainloop* loop) : loop_(loop) {
        pa_threaded_mainloop_lock(loop_);
    }
    ~PulseMainloopLock() { pa_threaded_mainloop_unlock(loop_); }
    PulseMainloopLock(const PulseMainloopLock&) = delete;
    PulseMainloopLock& operator=(const PulseMainloopLock&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

// A pending server request. Cancelled and released with the main loop lock held, after which
// its callback never runs.
class PulseOperation {
  public:
    PulseOperation() = default;
    explicit PulseOperation(pa_operation* operation) : operation_(operation) {}
    ~PulseOperation() { reset(); }
    PulseOperation(const PulseOperation&) = delete;
    PulseOperation& operator=(const PulseOperation&) = delete;

    bool valid() const { return operation_ != nullptr; }
    void reset(pa_operation* operation = nullptr);

  private:
    pa_operation* operation_ = nullptr;
};

// A property list.
class PulseProplist {
  public:
    PulseProplist() : list_(pa_proplist_new()) {}
    ~PulseProplist() { pa_proplist_free(list_); }
    PulseProplist(const PulseProplist&) = delete;
    PulseProplist& operator=(const PulseProplist&) = delete;

    pa_proplist* get() const { return list_; }

  private:
    pa_proplist* list_;
};

// A context connected to the server, with the main-loop thread that serves it.
class PulseConnection {
  public:
    // Connects and waits up to `limit` until the server has accepted. Null, `error` set, on
    // failure.
    static std::shared_ptr<PulseConnection> connect(std::string& error,
                                                    std::chrono::milliseconds limit);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* mainloop() const { return mainloop_; }
    pa_context* context() const { return context_; }
    bool hasFailed() const { return failed_.load(); }
    // The context's last error as text. Main loop lock held.
    std::string lastError() const;

    // Wakes the waiters; main-loop callbacks call it after recording their result.
    void notify();
    // Waits (without the main loop lock) until `done` holds, the connection fails, or `limit`
    // passes. Gives `done()`.
    bool waitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = kPulseServerTimeout);

  private:
    PulseConnection();
    static void onState(pa_context* context, void* self);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool> ready_{false};
    std::atomic<bool> failed_{false};
    std::mutex waitMutex_;
    std::condition_variable waitCondition_;
};

}  // namespace vurin
