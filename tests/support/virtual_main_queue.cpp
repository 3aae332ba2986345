#include "support/virtual_main_queue.h"

#include <algorithm>

namespace vurin::testing {

double VirtualMainQueue::now() const {
    std::lock_guard guard(lock_);
    return now_;
}

void VirtualMainQueue::postDelayed(double seconds, std::function<void()> block) {
    std::lock_guard guard(lock_);
    const double due = now_ + std::max(0.0, seconds);
    blocks_.emplace(std::make_pair(due, sequence_++), std::move(block));
}

bool VirtualMainQueue::runOneDueBy(double limit) {
    std::function<void()> block;
    {
        std::lock_guard guard(lock_);
        if (blocks_.empty() || blocks_.begin()->first.first > limit) {
            return false;
        }
        auto first = blocks_.begin();
        now_ = std::max(now_, first->first.first);
        block = std::move(first->second);
        blocks_.erase(first);
    }
    block();
    return true;
}

void VirtualMainQueue::runPending() {
    while (runOneDueBy(now())) {
    }
}

void VirtualMainQueue::advance(double seconds) {
    double target;
    {
        std::lock_guard guard(lock_);
        target = now_ + seconds;
    }
    // A tiny tolerance so that 0.1 + 0.2 seconds of advances reaches a block due at 0.3 s.
    while (runOneDueBy(target + 1e-9)) {
    }
    std::lock_guard guard(lock_);
    now_ = std::max(now_, target);
}

std::size_t VirtualMainQueue::pendingCount() const {
    std::lock_guard guard(lock_);
    return blocks_.size();
}

}  // namespace vurin::testing
