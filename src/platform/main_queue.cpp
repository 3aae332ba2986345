#include "platform/main_queue.h"

#include <deque>
#include <utility>

namespace vurin {

// Main-thread state of the holds. Once a block has been kept back, every later one queues
// behind it until the backlog is drained, so holding never changes the order of blocks.
struct MainQueue::Gate {
    int holds = 0;
    std::deque<std::function<void()>> backlog;

    void drain() {
        while (holds == 0 && !backlog.empty()) {
            auto block = std::move(backlog.front());
            backlog.pop_front();
            block();
        }
    }
};

MainQueue::MainQueue() : gate_(std::make_shared<Gate>()) {}

std::function<void()> MainQueue::gated(std::function<void()> block) {
    return [gate = gate_, block = std::move(block)]() mutable {
        if (gate->holds > 0 || !gate->backlog.empty()) {
            gate->backlog.push_back(std::move(block));
        } else {
            block();
        }
    };
}

void MainQueue::post(std::function<void()> block) {
    enqueue(gated(std::move(block)));
}

MainQueue::Hold MainQueue::hold() {
    ++gate_->holds;
    return Hold(this);
}

MainQueue::Hold::~Hold() {
    if (queue_ == nullptr) {
        return;
    }
    auto& gate = queue_->gate_;
    if (--gate->holds == 0 && !gate->backlog.empty()) {
        queue_->enqueue([gate] { gate->drain(); });
    }
}

std::shared_ptr<WorkItem> MainQueue::postAfter(double seconds, std::function<void()> block) {
    auto item = std::make_shared<WorkItem>();
    postDelayed(seconds, gated([item, block = std::move(block)] {
                    if (!item->isCancelled()) {
                        block();
                    }
                }));
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
