#include "input/event_tap.h"

#include <algorithm>
#include <utility>

#include "input/key_code_map.h"
#include "input/trigger_delivery.h"
#include "input/trigger_key_names.h"
#include "support/language.h"
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

std::string named(std::int64_t keyCode) {
    return triggerKeyDisplayName(keyCode) + "(键码 " + std::to_string(keyCode) + ")";
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
    handlers.onKeyGrabbed = [weak = weak_from_this()](int evdevCode, const KeyGrabResult& result) {
        if (auto self = weak.lock()) {
            self->keyGrabbed(evdevCode, result);
        }
    };
    handlers.onFailure = [weak = weak_from_this(),
                          queue = mainQueue_](const KeyGrabResult& result) {
        // The release of a trigger held when the connection broke will never come: without one
        // the recording would run to its limit and be pasted.
        if (auto self = weak.lock(); self && self->triggerDown_.exchange(false)) {
            self->postToEngine(false);
        }
        queue->post([weak, result] {
            if (auto self = weak.lock()) {
                self->connectionLost(result);
            }
        });
    };
    return handlers;
}

// Replaces a running capture (one for detection alone, or one whose key is not the trigger). A
// key detection took whose grab the old capture had not answered yet is asked of the new one:
// else the choice would be lost and the detection title stay.
KeyGrabResult EventTap::startGrab(std::optional<int> evdevCode) {
    if (grab_->isRunning()) {
        grab_->stop();
    }
    held_.clear();
    releaseEndsKeyboardGrab_.reset();
    const std::optional<std::pair<int, std::int64_t>> pending = pendingKey_;
    KeyGrabResult result = grab_->start(evdevCode, makeHandlers());
    if (result.status != KeyGrabStatus::ok) {
        pendingKey_.reset();
        if (pending) {
            detectionUnfinished();
        }
        return result;
    }
    if (tapDetecting()) {
        grab_->setKeyboardGrabbed(true);
    }
    if (pending) {
        grab_->grabKey(pending->first);
    }
    return result;
}

bool EventTap::holdsTrigger() const {
    const std::optional<int> evdevCode = evdevCodeForKeyCode(tapKeyCode());
    return evdevCode && grab_->grabbedKey() == evdevCode;
}

bool EventTap::setupEventTap() {
    const std::int64_t keyCode = tapKeyCode();
    const std::optional<int> evdevCode = evdevCodeForKeyCode(keyCode);
    if (!evdevCode) {
        log("❌ 触发键 " + named(keyCode) + "在此系统的键盘上没有对应的按键,无法捕获");
        return false;
    }
    if (grab_->grabbedKey() == evdevCode) {
        return true;
    }
    if (reconnectItem_) {
        reconnect();
        return holdsTrigger();
    }
    const KeyGrabResult result = startGrab(evdevCode);
    if (result.status != KeyGrabStatus::ok) {
        log(result.reason);
        if (tapDetecting()) {
            startGrab(std::nullopt);  // detection goes on without the trigger
        }
        return false;
    }
    return true;
}

void EventTap::startDetectKey() {
    {
        std::lock_guard guard(tapLock_);
        tapDetecting_ = true;
    }
    detectionOpen_ = true;
    log("🔍 识别模式:请按一下你想用作触发键的按键…");
    if (callbacks_.showDetectingKey) {
        callbacks_.showDetectingKey();
    }
    // Holding the whole keyboard locks out every other program, screen lockers included.
    endDetectionTimeout();
    detectionTimeout_ = mainQueue_->postAfter(detectionSeconds, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->detectionTimedOut();
        }
    });
    if (grab_->isRunning()) {
        grab_->setKeyboardGrabbed(true);
        return;
    }
    // The trigger cannot be grabbed now (in use, or no such key here): detection needs only the
    // keyboard, and the key it finds is grabbed by this capture.
    if (const KeyGrabResult result = startGrab(std::nullopt); result.status != KeyGrabStatus::ok) {
        log(result.reason);
    }
}

void EventTap::endDetectionTimeout() {
    if (auto item = std::exchange(detectionTimeout_, nullptr)) {
        item->cancel();
    }
}

// Also ends a detection whose key was taken but whose grab was never answered.
void EventTap::detectionTimedOut() {
    detectionTimeout_.reset();
    bool detecting = false;
    {
        std::lock_guard guard(tapLock_);
        detecting = std::exchange(tapDetecting_, false);
    }
    if (!std::exchange(detectionOpen_, false)) {
        return;
    }
    if (detecting && grab_->isRunning()) {
        grab_->setKeyboardGrabbed(false);
    }
    releaseIdleCapture();
    if (callbacks_.updateStatusIcon) {
        callbacks_.updateStatusIcon();
    }
    if (detecting) {
        log("⌛ 识别模式 15 秒内没有按键,已结束并释放键盘;触发键仍为 " + named(tapKeyCode()));
    }
}

// A capture started for detection alone holds a connection and a thread for nothing once the
// detection is over; one kept for retrying the trigger stays.
void EventTap::releaseIdleCapture() {
    if (!reconnectItem_ && grab_->isRunning() && !grab_->grabbedKey()) {
        grab_->stop();
    }
}

void EventTap::stop() {
    stopped_ = true;
    endDetectionTimeout();
    if (auto item = std::exchange(reconnectItem_, nullptr)) {
        item->cancel();
    }
    grab_->stop();
}

void EventTap::connectionLost(const KeyGrabResult& result) {
    log(result.reason);
    if (stopped_ || reconnectItem_ || grab_->isRunning()) {
        return;
    }
    reconnectDelay_ = firstReconnectSeconds;
    scheduleReconnect(reconnectDelay_);
}

void EventTap::scheduleReconnect(double seconds) {
    reconnectItem_ = mainQueue_->postAfter(seconds, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->reconnect();
        }
    });
}

// Quiet while the server stays away or another program keeps the trigger: the loss and the
// refusal are logged once, and so is the recovery.
void EventTap::reconnect() {
    if (auto item = std::exchange(reconnectItem_, nullptr)) {
        item->cancel();
    }
    const std::int64_t keyCode = tapKeyCode();
    const std::optional<int> evdevCode = evdevCodeForKeyCode(keyCode);
    if (grab_->isRunning()) {
        if (holdsTrigger()) {
            log("✅ 触发键 " + named(keyCode) + "恢复可用");
            return;
        }
        if (!evdevCode) {
            return;  // no such key here: nothing to ask for
        }
        // Connected, but the trigger was refused: ask for it on the running capture, unless a
        // detection may be asking for another key on it right now.
        if (!detectionOpen_) {
            grab_->grabKey(*evdevCode);
        }
        scheduleReconnect(maxReconnectSeconds);
        return;
    }
    const KeyGrabResult result = startGrab(evdevCode);
    if (result.status == KeyGrabStatus::ok) {
        log(holdsTrigger() ? "✅ 已重新连上 X11 显示,触发键 " + named(keyCode) + "恢复可用"
                           : std::string("✅ 已重新连上 X11 显示"));
        return;
    }
    // Refused: the display is back but another program holds the trigger. Detection still gets
    // a capture, on the keyboard alone, and the trigger is asked for again every few seconds.
    if (result.status == KeyGrabStatus::refused) {
        log(result.reason + ";已重新连上 X11 显示,每 5 秒重试一次");
        if (startGrab(std::nullopt).status == KeyGrabStatus::ok) {
            scheduleReconnect(maxReconnectSeconds);
            return;
        }
    }
    reconnectDelay_ = std::min(reconnectDelay_ * 2, maxReconnectSeconds);
    scheduleReconnect(reconnectDelay_);
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
    // The key a detection took keeps the keyboard until its release, so that release reaches
    // no other program either, whether or not the key became the trigger.
    if (!event.pressed && releaseEndsKeyboardGrab_ == event.evdevCode) {
        releaseEndsKeyboardGrab_.reset();
        grab_->setKeyboardGrabbed(false);
    }
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
        if (!tapDetecting_) {
            return;  // the time-out ended detection a moment ago
        }
        tapDetecting_ = false;
    }
    releaseEndsKeyboardGrab_ = event.evdevCode;
    // The key becomes the trigger only once the server has let us have it.
    pendingKey_.emplace(event.evdevCode, keyCode);
    grab_->grabKey(event.evdevCode);
}

void EventTap::keyGrabbed(int evdevCode, const KeyGrabResult& result) {
    if (!pendingKey_ || pendingKey_->first != evdevCode) {
        if (result.status == KeyGrabStatus::ok) {  // the trigger, retried after a refusal
            mainQueue_->post([weak = weak_from_this()] {
                if (auto self = weak.lock(); self && self->reconnectItem_) {
                    self->reconnect();
                }
            });
        }
        return;
    }
    const std::int64_t keyCode = std::exchange(pendingKey_, std::nullopt)->second;
    const KeyGrabStatus status = result.status;
    const bool granted = status == KeyGrabStatus::ok;
    std::int64_t kept = 0;
    {
        std::lock_guard guard(tapLock_);
        kept = tapKeyCode_;
        if (granted) {
            tapKeyCode_ = keyCode;
        }
    }
    mainQueue_->post([weak = weak_from_this(), keyCode, kept, status] {
        if (auto self = weak.lock()) {
            if (status == KeyGrabStatus::ok) {
                self->detectionResult(keyCode);
            } else if (status == KeyGrabStatus::refused) {
                self->detectionRefused(keyCode, kept);
            } else {
                self->detectionUnfinished();  // the connection is gone: its loss is logged
            }
        }
    });
}

void EventTap::handleTrigger(const KeyGrabEvent& event) {
    triggerDown_ = event.pressed;
    postToEngine(event.pressed);
    if (!event.pressed) {
        // Releasing the trigger ends the server's grab of the keyboard; releases of other keys
        // held meanwhile go to other programs, so forget them rather than mistake their next
        // press for a repeat.
        held_.clear();
    }
}

void EventTap::postToEngine(bool down) {
    std::weak_ptr<GestureEngine> engine;
    {
        std::lock_guard guard(tapLock_);
        engine = engine_;
    }
    // Stamped here, on the capture thread.
    postTriggerToEngine(*mainQueue_, std::move(engine), down);
}

void EventTap::detectionResult(std::int64_t keyCode) {
    endDetectionTimeout();
    detectionOpen_ = false;
    if (reconnectItem_ && holdsTrigger()) {
        std::exchange(reconnectItem_, nullptr)->cancel();  // the new key is held: nothing to retry
    }
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

void EventTap::detectionRefused(std::int64_t keyCode, std::int64_t kept) {
    endDetectionTimeout();
    detectionOpen_ = false;
    releaseIdleCapture();
    if (callbacks_.updateStatusIcon) {
        callbacks_.updateStatusIcon();
    }
    if (callbacks_.setTriggerKeyLabel) {
        const std::string name = triggerKeyDisplayName(keyCode), old = triggerKeyDisplayName(kept);
        callbacks_.setTriggerKeyLabel(L(name + " 已被其他程序占用,仍为 " + old,
                                        name + " is in use by another program; still " + old));
    }
    log("❌ " + named(keyCode) + "已被其他程序占用,不能作触发键;仍为 " + named(kept));
}

// The key's grab went unanswered: the title and the label show the trigger that stays.
void EventTap::detectionUnfinished() {
    endDetectionTimeout();
    detectionOpen_ = false;
    if (callbacks_.updateStatusIcon) {
        callbacks_.updateStatusIcon();
    }
    if (callbacks_.setTriggerKeyLabel) {
        callbacks_.setTriggerKeyLabel(triggerKeyLabelText(tapKeyCode()));
    }
}

}  // namespace vurin
