#pragma once

#include <functional>
#include <memory>

#include "platform/main_queue.h"

namespace vurin {

// Turns the phone's press and release requests into one key-down and one key-up, and releases
// on its own when the release never arrives (lost request, phone asleep, Wi-Fi gone).
// Main thread only; the automatic release is scheduled on the main queue.
class RemoteButtonGuard : public std::enable_shared_from_this<RemoteButtonGuard> {
  public:
    static constexpr double kDefaultMaxHoldDuration = 61.0;

    static std::shared_ptr<RemoteButtonGuard> create(
        std::shared_ptr<MainQueue> mainQueue, double maxHoldDuration = kDefaultMaxHoldDuration);

    RemoteButtonGuard(const RemoteButtonGuard&) = delete;
    RemoteButtonGuard& operator=(const RemoteButtonGuard&) = delete;

    // Starts a press unless one is active (a repeated press is ignored). `at` is when the
    // request arrived, on the main queue's clock, and goes on to the handlers.
    void press(double at);
    // Ends the active press; a release without a press is ignored.
    void release(double at);
    // Ends the active press now.
    void forceRelease() { release(mainQueue_->now()); }

    bool isPressed() const { return isPressed_; }
    double maxHoldDuration() const { return maxHoldDuration_; }

    std::function<void(double at)> onDown = [](double) {};
    std::function<void(double at)> onUp = [](double) {};

  private:
    RemoteButtonGuard(std::shared_ptr<MainQueue> mainQueue, double maxHoldDuration);

    std::shared_ptr<MainQueue> mainQueue_;
    double maxHoldDuration_;
    bool isPressed_ = false;
    std::shared_ptr<WorkItem> releaseWork_;
};

}  // namespace vurin
