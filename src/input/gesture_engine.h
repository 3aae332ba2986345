#pragma once

#include <functional>
#include <memory>

#include "platform/main_queue.h"

namespace vurin {

// Turns the downs and ups of the one dictation key into four gestures: long-press start,
// long-press end, single click and double click. It knows nothing about keys or devices, only
// the order and timing of downs and ups, so the event tap and the phone remote feed it alike.
//
// Every entry point, every delayed block and therefore every callback runs on the main thread;
// callers on other threads post to the main queue first. No field needs a lock.
//
// Events carry the time they happened (the main queue's clock) and the gestures are decided
// from those times: a down and an up that reach the main thread together, because it was busy
// or held by a paste, still make the long press or the double click the user made.
class GestureEngine : public std::enable_shared_from_this<GestureEngine> {
  public:
    enum class PressState { idle, pressed, longPressing, awaitingSecond, secondPressed };

    // A press that stays down this long (seconds) is a long press.
    static constexpr double longPressThreshold = 0.3;
    // A second press starting this long (seconds) after a short press's release still makes a
    // double click; otherwise the short press is reported as a single click.
    static constexpr double doubleClickWindow = 0.25;

    // The delayed decisions hold the engine weakly, so the engine must live in a shared_ptr.
    // `mainQueue` must not be null.
    static std::shared_ptr<GestureEngine> create(std::shared_ptr<MainQueue> mainQueue);

    GestureEngine(const GestureEngine&) = delete;
    GestureEngine& operator=(const GestureEngine&) = delete;

    // `at` is when the key moved, on the main queue's clock; without it, now.
    void keyDown(double at);
    void keyUp(double at);
    void keyDown() { keyDown(mainQueue_->now()); }
    void keyUp() { keyUp(mainQueue_->now()); }

    PressState state() const { return state_; }
    // The pending long-press decision, or null when none is pending.
    const std::shared_ptr<WorkItem>& longPressWork() const { return longPressWork_; }
    // The pending single-click decision, or null when none is pending.
    const std::shared_ptr<WorkItem>& clickWork() const { return clickWork_; }

    // Called synchronously from keyUp() or a delayed block, after the state has been updated.
    // Assignable at any time; an empty function is treated as "do nothing".
    std::function<void()> onLongPressStart = [] {};
    std::function<void()> onLongPressEnd = [] {};
    std::function<void()> onSingleClick = [] {};
    std::function<void()> onDoubleClick = [] {};

  private:
    explicit GestureEngine(std::shared_ptr<MainQueue> mainQueue);

    void longPressDecisionDue();
    void clickDecisionDue();
    void takeDecisionsDueBy(double at);
    std::shared_ptr<WorkItem> scheduleDecision(double due, void (GestureEngine::*decision)());

    std::shared_ptr<MainQueue> mainQueue_;
    PressState state_ = PressState::idle;
    double downAt_ = 0;  // the press in progress, or the first of a double click
    double upAt_ = 0;    // the release of the short press awaiting a second one
    std::shared_ptr<WorkItem> longPressWork_;
    std::shared_ptr<WorkItem> clickWork_;
};

}  // namespace vurin
