#include "pipeline/pipeline_cancellation.h"

namespace vurin {

bool PipelineCancellation::isCancelled() const {
    std::lock_guard guard(lock_);
    return cancelled_;
}

void PipelineCancellation::registerTask(const std::shared_ptr<CancellableTask>& task) {
    if (!task) {
        return;
    }
    {
        std::lock_guard guard(lock_);
        if (!cancelled_) {
            task_ = task;
            return;
        }
    }
    task->cancel();
}

void PipelineCancellation::clear(const std::shared_ptr<CancellableTask>& task) {
    // Declared before the guard so that, should this be the last reference to the remembered
    // task, the task is destroyed only after the lock is released.
    std::shared_ptr<CancellableTask> remembered;
    std::lock_guard guard(lock_);
    remembered = task_.lock();
    if (!remembered || remembered == task) {
        task_.reset();
    }
}

void PipelineCancellation::cancel() {
    std::shared_ptr<CancellableTask> taken;
    {
        std::lock_guard guard(lock_);
        cancelled_ = true;
        taken = task_.lock();
        task_.reset();
    }
    if (taken) {
        taken->cancel();
    }
}

}  // namespace vurin
