#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pipeline/pipeline_cancellation.h"
#include "pipeline/pipeline_config_snapshot.h"

namespace vurin {

// One finished recording handed to the pipeline. The controller deletes the file after `run`
// returns.
struct DictationJob {
    std::filesystem::path audioURL;
    double audioDuration = 0.0;
    std::int64_t generation = 0;
    PipelineConfigSnapshot snapshot;
    std::shared_ptr<PipelineCancellation> cancellation;
    // When the user let go of the trigger; the history's totalMs counts from it (from the start
    // of the job when absent).
    std::optional<std::chrono::steady_clock::time_point> released;
};

// How a job reaches back into the application. The first five run on the pipeline's thread;
// the pipeline posts the last four to the main queue.
struct DictationHooks {
    std::function<bool(std::int64_t generation)> isCurrent;
    std::function<bool()> isLocalSTTReady;
    std::function<bool()> isLocalPolishReady;
    std::function<void()> localSTTRequestFailed;
    std::function<void()> localPolishRequestFailed;
    std::function<void(std::int64_t generation)> setIdleIfCurrent;
    std::function<void()> warnLocalUnavailable;
    std::function<void()> warnNotConfigured;
    std::function<void(const std::string& text)> inject;
};

// Runs one job synchronously on the calling (background) thread.
class DictationRunner {
  public:
    virtual ~DictationRunner() = default;
    virtual void run(const DictationJob& job, const DictationHooks& hooks) = 0;
};

}  // namespace vurin
