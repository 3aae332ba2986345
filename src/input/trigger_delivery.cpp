#include "input/trigger_delivery.h"

#include <utility>

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

}  // namespace vurin
