#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

namespace vurin {

// A block scheduled on the main queue. Cancelling it before it runs prevents it from running;
// cancelling it later has no effect.
class WorkItem {
  public:
    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }

  private:
    std::atomic<bool> cancelled_{false};
};

// A timer that runs its block every interval until invalidated.
class RepeatingTimer {
  public:
    void invalidate() { valid_.store(false); }
    bool isValid() const { return valid_.load(); }

  private:
    std::atomic<bool> valid_{true};
};

// The application's main event queue: every piece of controller state lives on it.
// `post` and `postAfter` may be called from any thread; blocks run on the main thread in the
// order they become due (posts of the same due time run in posting order).
class MainQueue {
  public:
    class Hold;

    MainQueue();
    virtual ~MainQueue() = default;

    void post(std::function<void()> block);
    // For the completion of work that holds the queue (a keystroke a paste waits for on another
    // thread): runs even while holds are in place, since it is what ends them.
    void postThroughHolds(std::function<void()> block) { enqueue(std::move(block)); }
    virtual bool isMainThread() const = 0;

    // Monotonic seconds, on the clock the delays run on; callable from any thread. Input threads
    // stamp their events with it, so that the main thread decides from when a key moved rather
    // than from when it got round to the event.
    virtual double now() const = 0;

    // Runs `block` `seconds` from now unless the returned item is cancelled first.
    std::shared_ptr<WorkItem> postAfter(double seconds, std::function<void()> block);

    // Runs `block` every `interval` seconds (first run one interval from now) until the
    // returned timer is invalidated or released: the caller keeps the handle for as long as the
    // timer should run.
    std::shared_ptr<RepeatingTimer> scheduleRepeating(double interval, std::function<void()> block);

    // While the returned hold lives, blocks that come due are kept back and run after the last
    // hold is released, in their order, never inside it. Work that may wait in a nested event
    // loop (the desktop clipboard does, for another program's answer) takes one, so that a key
    // press or a job's result is never handled in its middle. Main thread only; a hold must not
    // outlive its queue.
    [[nodiscard]] Hold hold();

  protected:
    // What implementations provide: run the block on the main thread, as soon as possible or
    // `seconds` from now.
    virtual void enqueue(std::function<void()> block) = 0;
    virtual void postDelayed(double seconds, std::function<void()> block) = 0;

  private:
    struct Gate;
    std::function<void()> gated(std::function<void()> block);

    std::shared_ptr<Gate> gate_;
};

class MainQueue::Hold {
  public:
    Hold(Hold&& other) noexcept : queue_(other.queue_) { other.queue_ = nullptr; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    Hold& operator=(Hold&&) = delete;
    ~Hold();

  private:
    friend class MainQueue;
    explicit Hold(MainQueue* queue) : queue_(queue) {}
    MainQueue* queue_;
};

}  // namespace vurin
