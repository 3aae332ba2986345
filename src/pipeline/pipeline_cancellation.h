#pragma once

#include <memory>
#include <mutex>

#include "pipeline/cancellable_task.h"

namespace vurin {

// The cancel switch of one dictation job. It also remembers the request the job is waiting on,
// so that cancelling the job aborts that request at once. It goes from not cancelled to
// cancelled exactly once and is never reused. Every operation may be called from any thread;
// a task's cancel() is always called with no lock held, so it may call back into this object.
class PipelineCancellation {
  public:
    PipelineCancellation() = default;
    PipelineCancellation(const PipelineCancellation&) = delete;
    PipelineCancellation& operator=(const PipelineCancellation&) = delete;

    bool isCancelled() const;

    // Remembers `task` (weakly, replacing any earlier one) as the request in flight. If the job
    // is already cancelled the task is cancelled at once instead and not remembered.
    void registerTask(const std::shared_ptr<CancellableTask>& task);

    // Forgets `task` if it is the one remembered; any other remembered task stays.
    void clear(const std::shared_ptr<CancellableTask>& task);

    // Marks the job cancelled and cancels the remembered task, if it is still alive.
    void cancel();

  private:
    mutable std::mutex lock_;
    bool cancelled_ = false;
    // Weak: the cancellation never keeps a finished request alive.
    std::weak_ptr<CancellableTask> task_;
};

}  // namespace vurin
