#include "input/trigger_delivery.h"

#include <algorithm>
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
    // Ordered by when the command started, a time from the future taken as now: one far ahead
    // would otherwise make every later event look late, and silence the binding for good. An
    // old time stays as it is here (a release that started after it is not late).
    const double started = std::min(at, now);
    if (last_ && started < *last_) {
        log(std::string("⚠️ vurin --trigger ") + (down ? "press" : "release") +
            " 晚于之后的一次按键才到达,已忽略");
        return std::nullopt;
    }
    last_ = started;
    // The engine's times never go back, whatever the clamping made of the one before.
    admitted_ = std::max(clampedSourceTime(at, now), admitted_.value_or(0.0));
    return admitted_;
}

}  // namespace vurin
