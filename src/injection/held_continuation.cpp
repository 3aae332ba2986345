#include "injection/held_continuation.h"

#include <optional>
#include <utility>

namespace vurin {

namespace {

// The hold ends on the main thread, whichever thread lets go of the request last (a sender that
// drops a request at shutdown without answering it).
struct HeldQueue {
    std::shared_ptr<MainQueue> queue;
    std::optional<MainQueue::Hold> hold;

    HeldQueue(std::shared_ptr<MainQueue> held) : queue(std::move(held)), hold(queue->hold()) {}
    HeldQueue(const HeldQueue&) = delete;
    HeldQueue& operator=(const HeldQueue&) = delete;
    ~HeldQueue() {
        if (hold && !queue->isMainThread()) {
            queue->postThroughHolds(
                [released = std::make_shared<MainQueue::Hold>(std::move(*hold))] {});
            hold.reset();
        }
    }
};

}  // namespace

KeystrokeSender::Done whileHeld(const std::shared_ptr<MainQueue>& queue,
                                std::function<void(const KeystrokeOutcome&)> then) {
    auto held = std::make_shared<HeldQueue>(queue);
    return [held, then = std::move(then)](const KeystrokeOutcome& outcome) {
        auto run = [held, then, outcome] {
            then(outcome);
            held->hold.reset();
        };
        if (held->queue->isMainThread()) {
            run();
        } else {
            held->queue->postThroughHolds(std::move(run));
        }
    };
}

}  // namespace vurin
