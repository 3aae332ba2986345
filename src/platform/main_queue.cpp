#include "platform/main_queue.h"

#include <utility>

namespace vurin {

std::shared_ptr<WorkItem> MainQueue::postAfter(double seconds, std::function<void()> block) {
    auto item = std::make_shared<WorkItem>();
    postDelayed(seconds, [item, block = std::move(block)] {
        if (!item->isCancelled()) {
            block();
        }
    });
    return item;
}

namespace {

// Each tick re-arms the next one, so an invalidated timer simply stops re-arming. The queue is
// held weakly: a timer never keeps its queue alive.
void armRepeating(const std::weak_ptr<RepeatingTimer>& weakTimer, MainQueue& queue, double interval,
                  std::shared_ptr<std::function<void()>> block) {
    auto timer = weakTimer.lock();
    if (!timer || !timer->isValid()) {
        return;
    }
    queue.postAfter(interval, [weakTimer, &queue, interval, block] {
        auto liveTimer = weakTimer.lock();
        if (!liveTimer || !liveTimer->isValid()) {
            return;
        }
        (*block)();
        armRepeating(weakTimer, queue, interval, block);
    });
}

}  // namespace

std::shared_ptr<RepeatingTimer> MainQueue::scheduleRepeating(double interval,
                                                             std::function<void()> block) {
    auto timer = std::make_shared<RepeatingTimer>();
    armRepeating(timer, *this, interval, std::make_shared<std::function<void()>>(std::move(block)));
    return timer;
}

}  // namespace vurin
