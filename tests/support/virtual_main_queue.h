#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/main_queue.h"

namespace vurin::testing {

// A main queue driven by a virtual clock. Nothing runs until the test calls `runPending` or
// `advance`, so timings such as 0.3 s or 60 s are exercised exactly and instantly.
// Posting is thread-safe; the thread that created the queue is the "main thread".
class VirtualMainQueue : public MainQueue {
  public:
    VirtualMainQueue() : mainThread_(std::this_thread::get_id()) {}

    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }

    // Virtual seconds since the queue was created.
    double now() const override;

    // Runs every block that is due now, including blocks those blocks post for now.
    void runPending();

    // Moves the clock forward by `seconds`, running each block at its due time, in order.
    void advance(double seconds);

    // Number of blocks not yet run (cancelled work items included until their due time).
    std::size_t pendingCount() const;

  protected:
    void enqueue(std::function<void()> block) override { postDelayed(0.0, std::move(block)); }
    void postDelayed(double seconds, std::function<void()> block) override;

  private:
    bool runOneDueBy(double limit);

    mutable std::mutex lock_;
    std::thread::id mainThread_;
    double now_ = 0.0;
    std::uint64_t sequence_ = 0;
    std::multimap<std::pair<double, std::uint64_t>, std::function<void()>> blocks_;
};

}  // namespace vurin::testing
