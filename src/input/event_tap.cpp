#include "input/event_tap.h"

#include <utility>

#include "input/key_code_map.h"
#include "input/trigger_key_names.h"
#include "support/log.h"

namespace vurin {

namespace {

constexpr std::int64_t capsLockKeyCode = 57;
constexpr std::int64_t rightOptionKeyCode = 61;

bool isModifierKeyCode(std::int64_t keyCode) {
    return keyCode >= 54 && keyCode <= 63 && keyCode != capsLockKeyCode;
}

// Held as a trigger, a modifier takes the whole keyboard with it: X gives every key to the
// grabbing client while a passively grabbed key is down.
void logModifierTriggerWarning(std::int64_t keyCode) {
    if (!isModifierKeyCode(keyCode)) {
        return;
    }
    log("⚠️ 修饰键作为触发键:按住它时整个键盘都交给 "
        "Vurin,与它同按的组合键不会到达其他程序");
    if (keyCode == rightOptionKeyCode) {
        log("⚠️ 右 Option 在许多键盘布局中是 "
            "AltGr,用作触发键后无法再用它输入重音字符");
    }
}

}  // namespace

std::shared_ptr<EventTap> EventTap::create(std::shared_ptr<MainQueue> mainQueue,
                                           std::shared_ptr<KeyGrab> grab) {
    return std::shared_ptr<EventTap>(new EventTap(std::move(mainQueue), std::move(grab)));
}

EventTap::EventTap(std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<KeyGrab> grab)
    : mainQueue_(std::move(mainQueue)), grab_(std::move(grab)) {}

EventTap::~EventTap() {
    stop();
}

void EventTap::setEngine(std::weak_ptr<GestureEngine> engine) {
    std::lock_guard guard(tapLock_);
    engine_ = std::move(engine);
}

void EventTap::setCallbacks(Callbacks callbacks) {
    callbacks_ = std::move(callbacks);
}

void EventTap::setTapKeyCode(std::int64_t keyCode) {
    std::lock_guard guard(tapLock_);
    tapKeyCode_ = keyCode;
}

std::int64_t EventTap::tapKeyCode() const {
    std::lock_guard guard(tapLock_);
    return tapKeyCode_;
}

bool EventTap::tapDetecting() const {
    std::lock_guard guard(tapLock_);
    return tapDetecting_;
}

KeyGrab::Handlers EventTap::makeHandlers() {
    KeyGrab::Handlers handlers;
    handlers.onKey = [weak = weak_from_this()](const KeyGrabEvent& event) {
        if (auto self = weak.lock()) {
            self->handleKeyEvent(event);
        }
    };
    handlers.onFailure = [](const KeyGrabResult& result) { log(result.reason); };
    return handlers;
}

bool EventTap::setupEventTap() {
    if (grab_->isRunning()) {
        return true;
    }
    const std::int64_t keyCode = tapKeyCode();
    const std::optional<int> evdevCode = evdevCodeForKeyCode(keyCode);
    if (!evdevCode) {
        log("❌ 触发键 " + triggerKeyDisplayName(keyCode) + "(键码 " + std::to_string(keyCode) +
            ")在此系统的键盘上没有对应的按键,无法捕获");
        return false;
    }
    // A previous capture thread has ended (its connection was lost): start from a clean slate.
    held_.clear();
    releaseEndsKeyboardGrab_.reset();
    const KeyGrabResult result = grab_->start(*evdevCode, makeHandlers());
    if (result.status != KeyGrabStatus::ok) {
        log(result.reason);
        return false;
    }
    if (tapDetecting()) {
        grab_->setKeyboardGrabbed(true);
    }
    return true;
}

void EventTap::startDetectKey() {
    {
        std::lock_guard guard(tapLock_);
        tapDetecting_ = true;
    }
    log("🔍 识别模式:请按一下你想用作触发键的按键…");
    if (callbacks_.setStatusTitle) {
        callbacks_.setStatusTitle("⌨️");
    }
    if (grab_->isRunning()) {
        grab_->setKeyboardGrabbed(true);
    }
}

void EventTap::stop() {
    grab_->stop();
}

// A key that is pressed again without a release in between is the keyboard's auto-repeat.
bool EventTap::trackHeld(const KeyGrabEvent& event) {
    if (!event.pressed) {
        held_.erase(event.evdevCode);
        return false;
    }
    return !held_.insert(event.evdevCode).second;
}

void EventTap::handleKeyEvent(const KeyGrabEvent& event) {
    const bool repeat = trackHeld(event);
    const std::optional<std::int64_t> keyCode = keyCodeForEvdevCode(event.evdevCode);
    if (!keyCode) {
        return;
    }
    bool detecting = false;
    std::int64_t trigger = 0;
    {
        std::lock_guard guard(tapLock_);
        detecting = tapDetecting_;
        trigger = tapKeyCode_;
    }
    if (detecting) {
        handleDetection(event, *keyCode, repeat);
        return;
    }
    if (*keyCode != trigger || repeat) {
        return;
    }
    handleTrigger(event);
}

void EventTap::handleDetection(const KeyGrabEvent& event, std::int64_t keyCode, bool repeat) {
    if (!event.pressed || repeat || keyCode == capsLockKeyCode) {
        return;
    }
    {
        std::lock_guard guard(tapLock_);
        tapKeyCode_ = keyCode;
        tapDetecting_ = false;
    }
    grab_->grabKey(event.evdevCode);
    // The keyboard stays taken until this key is released, so its release does not reach the
    // focused program either.
    releaseEndsKeyboardGrab_ = event.evdevCode;
    mainQueue_->post([weak = weak_from_this(), keyCode] {
        if (auto self = weak.lock()) {
            self->detectionResult(keyCode);
        }
    });
}

void EventTap::handleTrigger(const KeyGrabEvent& event) {
    postToEngine(event.pressed);
    if (event.pressed) {
        return;
    }
    // Releasing the trigger ends the server's grab of the keyboard; releases of other keys
    // held meanwhile go to other programs, so forget them rather than mistake their next press
    // for a repeat.
    held_.clear();
    if (releaseEndsKeyboardGrab_ == event.evdevCode) {
        releaseEndsKeyboardGrab_.reset();
        grab_->setKeyboardGrabbed(false);
    }
}

void EventTap::postToEngine(bool down) {
    std::weak_ptr<GestureEngine> engine;
    {
        std::lock_guard guard(tapLock_);
        engine = engine_;
    }
    mainQueue_->post([engine = std::move(engine), down] {
        if (auto live = engine.lock()) {
            if (down) {
                live->keyDown();
            } else {
                live->keyUp();
            }
        }
    });
}

void EventTap::detectionResult(std::int64_t keyCode) {
    if (callbacks_.storeKeyCode) {
        callbacks_.storeKeyCode(keyCode);
    }
    if (callbacks_.updateStatusIcon) {
        callbacks_.updateStatusIcon();
    }
    if (callbacks_.rebuildMenu) {
        callbacks_.rebuildMenu();
    }
    if (callbacks_.setTriggerKeyLabel) {
        callbacks_.setTriggerKeyLabel(triggerKeyLabelText(keyCode));
    }
    log("🔑 触发键已设为 " + triggerKeyDisplayName(keyCode) + " (键码 " + std::to_string(keyCode) +
        ")");
    logModifierTriggerWarning(keyCode);
}

}  // namespace vurin
