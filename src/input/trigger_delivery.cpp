#include "input/trigger_delivery.h"

#include <utility>

namespace vurin {

void postTriggerToEngine(MainQueue& queue, std::weak_ptr<GestureEngine> engine, bool down) {
    queue.post([engine = std::move(engine), down, at = queue.now()] {
        if (auto live = engine.lock()) {
            if (down) {
                live->keyDown(at);
            } else {
                live->keyUp(at);
            }
        }
    });
}

}  // namespace vurin
