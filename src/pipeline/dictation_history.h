#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "pipeline/dictation_stages.h"

namespace vurin {

// Everything one history line says about a finished job.
struct DictationRecordInput {
    std::chrono::system_clock::time_point builtAt;
    double audioDuration = 0.0;
    std::int64_t sttMs = 0;
    std::int64_t llmMs = 0;
    const PipelineConfigSnapshot* snapshot = nullptr;
    const SpeechResult* speech = nullptr;
    const PolishOutcome* polish = nullptr;
    std::string finalText;
    // Release of the trigger to the text handed over for pasting.
    std::int64_t totalMs = 0;
    // Why the polished text was not pasted (polishRejectionName), if it was not.
    std::optional<std::string> polishRejected;
};

// "2025-03-01T08:15:30Z": UTC, to the second.
std::string isoTimestampUTC(std::chrono::system_clock::time_point time);

// The duration as "%.1f" writes it, read back: 2.46 -> 2.5, 2.44 -> 2.4.
double roundedAudioSeconds(double seconds);

// The eighteen fixed keys and totalMs, polishRejected when the guard set the polish aside, the
// ollama keys when the polish carried ollama's timing, and the
// transcript and final text only when the user keeps text history.
nlohmann::json dictationHistoryRecord(const DictationRecordInput& input);

}  // namespace vurin
