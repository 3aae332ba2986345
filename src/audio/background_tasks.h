#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vurin {

// Threads an object starts for its background work, so none outlives its owner: the owner's
// destruction waits for them. A task may drop the last reference to its owner; the owner then
// dies on that task's thread, which is left to finish on its own instead of joining itself.
class BackgroundTasks {
  public:
    BackgroundTasks() = default;
    ~BackgroundTasks() { waitAll(); }
    BackgroundTasks(const BackgroundTasks&) = delete;
    BackgroundTasks& operator=(const BackgroundTasks&) = delete;

    void run(std::function<void()> task);

    // Waits for every task started so far (except one running on the calling thread).
    void waitAll();
    // The same, for at most `limit`; false when some are still running (they stay owned).
    bool waitAllFor(std::chrono::milliseconds limit);

  private:
    struct Task {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    // Told when a task returns; shared, as a task may outlive its owner (see above).
    struct Finished {
        std::mutex mutex;
        std::condition_variable returned;
    };

    std::mutex mutex_;
    std::vector<Task> tasks_;
    const std::shared_ptr<Finished> finished_ = std::make_shared<Finished>();
};

}  // namespace vurin
