#include "input/gesture_engine.h"

#include <algorithm>
#include <utility>

namespace vurin {

namespace {

void cancelAndForget(std::shared_ptr<WorkItem>& work) {
    if (work) {
        work->cancel();
        work.reset();
    }
}

void callIfSet(const std::function<void()>& callback) {
    if (callback) {
        callback();
    }
}

}  // namespace

std::shared_ptr<GestureEngine> GestureEngine::create(std::shared_ptr<MainQueue> mainQueue) {
    return std::shared_ptr<GestureEngine>(new GestureEngine(std::move(mainQueue)));
}

GestureEngine::GestureEngine(std::shared_ptr<MainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)) {}

// A decision whose moment passed before this event happened is taken first, even though its
// block has not run yet: the event reached the main thread late.
void GestureEngine::takeDecisionsDueBy(double at) {
    if (state_ == PressState::pressed && at - downAt_ >= longPressThreshold) {
        longPressDecisionDue();
    } else if (state_ == PressState::awaitingSecond && at - upAt_ >= doubleClickWindow) {
        clickDecisionDue();
    }
}

void GestureEngine::keyDown(double at) {
    takeDecisionsDueBy(at);
    switch (state_) {
        case PressState::idle:
            state_ = PressState::pressed;
            downAt_ = at;
            cancelAndForget(longPressWork_);
            longPressWork_ =
                scheduleDecision(at + longPressThreshold, &GestureEngine::longPressDecisionDue);
            return;
        case PressState::awaitingSecond:
            cancelAndForget(clickWork_);
            state_ = PressState::secondPressed;
            return;
        case PressState::pressed:
        case PressState::longPressing:
        case PressState::secondPressed:
            // Auto-repeat while the key is held.
            return;
    }
}

void GestureEngine::keyUp(double at) {
    takeDecisionsDueBy(at);
    switch (state_) {
        case PressState::secondPressed:
            state_ = PressState::idle;
            callIfSet(onDoubleClick);
            return;
        case PressState::longPressing:
            state_ = PressState::idle;
            callIfSet(onLongPressEnd);
            return;
        case PressState::pressed:
            cancelAndForget(longPressWork_);
            state_ = PressState::awaitingSecond;
            upAt_ = at;
            cancelAndForget(clickWork_);
            clickWork_ = scheduleDecision(at + doubleClickWindow, &GestureEngine::clickDecisionDue);
            return;
        case PressState::awaitingSecond:
            // An up without its down drops the pending click. Its block is cancelled as well:
            // left in place, it would fire during the next short press's own double-click window
            // and report that press as a click too early, turning a double click into a send.
            cancelAndForget(clickWork_);
            state_ = PressState::idle;
            return;
        case PressState::idle:
            return;
    }
}

void GestureEngine::longPressDecisionDue() {
    // The state is compared again: a block that was cancelled too late must have no effect.
    if (state_ != PressState::pressed) {
        return;
    }
    // Cancelled, not only forgotten, when taken early: left in place, the block would decide the
    // next press before its time.
    cancelAndForget(longPressWork_);
    state_ = PressState::longPressing;
    callIfSet(onLongPressStart);
}

void GestureEngine::clickDecisionDue() {
    if (state_ != PressState::awaitingSecond) {
        return;
    }
    cancelAndForget(clickWork_);
    state_ = PressState::idle;
    callIfSet(onSingleClick);
}

std::shared_ptr<WorkItem> GestureEngine::scheduleDecision(double due,
                                                          void (GestureEngine::*decision)()) {
    const double delay = std::max(0.0, due - mainQueue_->now());
    return mainQueue_->postAfter(delay, [weakEngine = weak_from_this(), decision] {
        // Holding a strong reference keeps the engine alive while a callback runs, even if the
        // callback lets go of the last other owner.
        if (auto engine = weakEngine.lock()) {
            ((*engine).*decision)();
        }
    });
}

}  // namespace vurin
