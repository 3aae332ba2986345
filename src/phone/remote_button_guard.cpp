#include "phone/remote_button_guard.h"

namespace vurin {

std::shared_ptr<RemoteButtonGuard> RemoteButtonGuard::create(std::shared_ptr<MainQueue> mainQueue,
                                                             double maxHoldDuration) {
    return std::shared_ptr<RemoteButtonGuard>(
        new RemoteButtonGuard(std::move(mainQueue), maxHoldDuration));
}

RemoteButtonGuard::RemoteButtonGuard(std::shared_ptr<MainQueue> mainQueue, double maxHoldDuration)
    : mainQueue_(std::move(mainQueue)), maxHoldDuration_(maxHoldDuration) {}

void RemoteButtonGuard::press(double at) {
    if (isPressed_) {
        return;
    }
    isPressed_ = true;
    if (onDown) {
        onDown(at);
    }
    if (releaseWork_) {
        releaseWork_->cancel();
    }
    releaseWork_ = mainQueue_->postAfter(maxHoldDuration_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->forceRelease();
        }
    });
}

void RemoteButtonGuard::release(double at) {
    if (!isPressed_) {
        return;
    }
    if (releaseWork_) {
        releaseWork_->cancel();
        releaseWork_.reset();
    }
    isPressed_ = false;
    if (onUp) {
        onUp(at);
    }
}

}  // namespace vurin
