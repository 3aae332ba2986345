#pragma once

#include <atomic>
#include <functional>
#include <memory>

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
    virtual ~MainQueue() = default;

    virtual void post(std::function<void()> block) = 0;
    virtual bool isMainThread() const = 0;

    // Runs `block` `seconds` from now unless the returned item is cancelled first.
    std::shared_ptr<WorkItem> postAfter(double seconds, std::function<void()> block);

    // Runs `block` every `interval` seconds (first run one interval from now) until the
    // returned timer is invalidated or released: the caller keeps the handle for as long as the
    // timer should run.
    std::shared_ptr<RepeatingTimer> scheduleRepeating(double interval, std::function<void()> block);

  protected:
    virtual void postDelayed(double seconds, std::function<void()> block) = 0;
};

}  // namespace vurin
