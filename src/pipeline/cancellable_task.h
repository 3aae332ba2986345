#pragma once

namespace vurin {

// Something a job waits on that can be aborted from another thread, such as an HTTP transfer.
// `cancel` must be safe to call from any thread, more than once, and after the work finished.
class CancellableTask {
  public:
    virtual ~CancellableTask() = default;
    virtual void cancel() = 0;
};

}  // namespace vurin
