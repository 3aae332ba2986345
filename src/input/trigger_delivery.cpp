#include "input/trigger_delivery.h"

#include <string>
#include <utility>

#include "support/log.h"

namespace vurin {

void postTriggerToEngine(MainQueue& queue, std::weak_ptr<GestureEngine> engine, bool down) {
    postTriggerToEngine(queue, std::move(engine), down, queue.now());
}

void postTriggerToEngine(MainQueue& queue, std::weak_ptr<GestureEngine> engine, bool down,
                         double at) {
    at = clampedSourceTime(at, queue.now());
    queue.post([engine = std::move(engine), down, at] {
        if (auto live = engine.lock()) {
            if (down) {
                live->keyDown(at);
            } else {
                live->keyUp(at);
            }
        }
    });
}

double clampedSourceTime(double at, double now) {
    return at > now || at < now - kOldestSourceTime ? now : at;
}

std::optional<double> BindingEventOrder::admit(bool down, double at, double now) {
    // Clamped before it becomes the newest: a time far in the future would otherwise make every
    // later event look late, and silence the binding for good.
    at = clampedSourceTime(at, now);
    if (last_ && at < *last_) {
        log(std::string("⚠️ vurin --trigger ") + (down ? "press" : "release") +
            " 晚于之后的一次按键才到达,已忽略");
        return std::nullopt;
    }
    last_ = at;
    return at;
}

}  // namespace vurin
