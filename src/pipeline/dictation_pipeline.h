#pragma once

#include <memory>

#include "pipeline/dictation_job.h"
#include "platform/main_queue.h"

namespace vurin {

// Retrying in the cloud after a local request failed needs both the user's permission and a
// stored key for the cloud provider.
bool shouldFallbackAfterLocalFailure(bool allowCloudFallback, bool cloudKeyPresent);

// Turns one finished recording into text in the focused application: speech-to-text, polish,
// the latency report, injection through the hooks and one history record. Holds no state of its
// own; everything a run needs travels in the job and the hooks.
class DictationPipeline : public DictationRunner {
  public:
    using Job = DictationJob;
    using Hooks = DictationHooks;

    // Hooks that change the application state are posted to `mainQueue`, never awaited.
    explicit DictationPipeline(std::shared_ptr<MainQueue> mainQueue);

    // Synchronous; blocks the calling background thread during every request and returns when
    // the job is finished or abandoned. Never call it on the main thread.
    void run(const Job& job, const Hooks& hooks) override;

  private:
    std::shared_ptr<MainQueue> mainQueue_;
};

}  // namespace vurin
