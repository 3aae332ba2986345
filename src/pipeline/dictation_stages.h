#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "pipeline/dictation_job.h"
#include "providers/polish_clients.h"

namespace vurin {

// Source labels in the log and the history.
inline constexpr std::string_view kLocalSTTSource = "本地";
inline constexpr std::string_view kLocalPolishSource = "本地qwen";
inline constexpr std::string_view kUnpolishedSource = "未润色";

// What speech-to-text produced: the transcript with its source label and model, and when the
// first request of the job started (a failed local attempt counts toward the time).
struct SpeechResult {
    std::chrono::steady_clock::time_point started;
    std::string transcript;
    std::string source;
    std::string model;
};

// What the polish stage produced; `polished` is absent when no polished text exists.
struct PolishOutcome {
    std::optional<std::string> polished;
    std::string source;
    std::string model;
    std::optional<OllamaTiming> timing;
};

// Posts a block to the main queue (the pipeline never waits on the main thread).
using PostToMain = std::function<void(std::function<void()>)>;

// Runs the speech-to-text decision; nothing when the job ends here (every hook, log line and
// sound of that ending already given).
std::optional<SpeechResult> transcribeStage(const DictationJob& job, const DictationHooks& hooks,
                                            const PostToMain& post);

// Runs the polish decision; always yields an outcome (polish problems never stop a job).
PolishOutcome polishStage(const DictationJob& job, const DictationHooks& hooks,
                          const std::string& transcript);

}  // namespace vurin
