#include "pipeline/dictation_history.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "local_services/service_constants.h"
#include "providers/polish_prompt.h"
#include "support/runtime_metadata.h"

namespace vurin {

std::string isoTimestampUTC(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

double roundedAudioSeconds(double seconds) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%.1f", seconds);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) {
        return seconds;
    }
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    return end == text + length ? parsed : seconds;
}

namespace {

void addTiming(nlohmann::json& record, const OllamaTiming& timing) {
    record["ollamaKeepAlive"] = std::string(ollamaKeepAlive);
    const std::pair<const char*, const std::optional<std::int64_t>*> fields[] = {
        {"ollamaTotalMs", &timing.totalMs},
        {"ollamaLoadMs", &timing.loadMs},
        {"ollamaPromptEvalMs", &timing.promptEvalMs},
        {"ollamaEvalMs", &timing.evalMs},
        {"ollamaPromptEvalTokens", &timing.promptEvalCount},
        {"ollamaEvalTokens", &timing.evalCount},
    };
    for (const auto& [key, value] : fields) {
        if (value->has_value()) {
            record[key] = **value;
        }
    }
}

}  // namespace

nlohmann::json dictationHistoryRecord(const DictationRecordInput& input) {
    const PipelineConfigSnapshot& snapshot = *input.snapshot;
    const RuntimeMetadata& metadata = runtimeMetadata();
    nlohmann::json record = nlohmann::json::object();
    record["ts"] = isoTimestampUTC(input.builtAt);
    record["audioSec"] = roundedAudioSeconds(input.audioDuration);
    record["sttMs"] = input.sttMs;
    record["llmMs"] = input.llmMs;
    record["promptVersion"] = std::string(polishPromptVersion);
    record["polishFailed"] = !input.polish->polished.has_value();
    record["sendOnClick"] = snapshot.sendOnClick();
    record["sttSource"] = input.speech->source;
    record["polishSource"] = input.polish->source;
    record["textSaved"] = snapshot.saveTextHistory();
    record["sttCloudProvider"] = snapshot.sttCloudProvider();
    record["polishCloudProvider"] = snapshot.polishCloudProvider();
    record["sttModel"] = input.speech->model;
    record["polishModel"] = input.polish->model;
    record["appVersion"] = metadata.appVersion;
    record["appBuild"] = metadata.appBuild;
    record["macOSVersion"] = metadata.macOSVersion;
    record["architecture"] = metadata.architecture;
    record["totalMs"] = input.totalMs;
    if (input.polishRejected) {
        record["polishRejected"] = *input.polishRejected;
    }
    if (input.polish->timing) {
        addTiming(record, *input.polish->timing);
    }
    if (snapshot.saveTextHistory()) {
        record["raw"] = input.speech->transcript;
        record["polished"] = input.finalText;
    }
    return record;
}

}  // namespace vurin
