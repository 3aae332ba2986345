#include "pipeline/latency_history.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "pipeline/dictation_stages.h"

namespace vurin {
namespace {

// Read back in blocks of this size; a history line is a few hundred bytes.
constexpr std::streamoff kBlockBytes = 16 * 1024;
// However damaged the file, reading stops this far from its end.
constexpr std::streamoff kMaxBytesBack = 4 * 1024 * 1024;
// A longer line is damage (a line with both texts of a long dictation is a few KiB); it is
// dropped as it is read rather than gathered whole.
constexpr std::size_t kMaxLineBytes = 1024 * 1024;

std::optional<std::int64_t> milliseconds(const nlohmann::json& record, const char* key) {
    const auto found = record.find(key);
    if (found == record.end() || !found->is_number_integer() || found->get<std::int64_t>() < 0) {
        return std::nullopt;
    }
    return found->get<std::int64_t>();
}

std::optional<std::string> text(const nlohmann::json& record, const char* key) {
    const auto found = record.find(key);
    if (found == record.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

std::optional<std::int64_t> median(std::vector<std::int64_t> values) {
    if (values.empty()) {
        return std::nullopt;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

std::optional<LatencyRecord> latencyRecordOf(std::string_view line) {
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (!record.is_object()) {
        return std::nullopt;
    }
    const auto speechMs = milliseconds(record, "sttMs");
    const auto polishMs = milliseconds(record, "llmMs");
    const auto speechSource = text(record, "sttSource");
    const auto polishSource = text(record, "polishSource");
    if (!speechMs || !polishMs || !speechSource || !polishSource) {
        return std::nullopt;
    }
    LatencyRecord latency{.speechMs = *speechMs, .polishMs = *polishMs};
    if (record.contains("totalMs")) {
        const auto totalMs = milliseconds(record, "totalMs");
        if (!totalMs) {
            return std::nullopt;
        }
        // Each part is truncated to whole milliseconds on its own.
        latency.restMs = std::max<std::int64_t>(0, *totalMs - *speechMs - *polishMs);
    }
    latency.speech = *speechSource == kLocalSTTSource ? LatencySource::local : LatencySource::cloud;
    latency.polish = *polishSource == kLocalPolishSource  ? LatencySource::local
                     : *polishSource == kUnpolishedSource ? LatencySource::none
                                                          : LatencySource::cloud;
    return latency;
}

std::vector<LatencyRecord> recentLatencyRecords(const std::filesystem::path& file,
                                                std::size_t count) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(0, std::ios::end);
    std::streamoff position = in ? static_cast<std::streamoff>(in.tellg()) : 0;
    const std::streamoff end = position;
    std::vector<LatencyRecord> newestFirst;
    // From `position` to the first line already taken: the end of a line whose start is further
    // back.
    std::string pending;
    // `pending` was dropped for its length: the next line start found ends that line.
    bool overlong = false;
    const auto take = [&](std::string_view line) {
        if (const auto record = latencyRecordOf(line)) {
            newestFirst.push_back(*record);
        }
    };
    while (position > 0 && newestFirst.size() < count && end - position < kMaxBytesBack) {
        const std::streamoff size = std::min(kBlockBytes, position);
        position -= size;
        std::string block(static_cast<std::size_t>(size), '\0');
        in.seekg(position);
        if (!in.read(block.data(), size)) {
            break;
        }
        pending.insert(0, block);
        // What followed the block holds no line feed: it was searched before.
        for (auto lineEnd = pending.rfind('\n', block.size() - 1);
             lineEnd != std::string::npos && newestFirst.size() < count;
             lineEnd = pending.rfind('\n')) {
            if (!overlong) {
                take(std::string_view(pending).substr(lineEnd + 1));
            }
            overlong = false;
            pending.resize(lineEnd);
        }
        if (pending.size() > kMaxLineBytes) {
            pending.clear();
            overlong = true;
        }
        if (position == 0 && !overlong && newestFirst.size() < count) {
            take(pending);
        }
    }
    return {newestFirst.rbegin(), newestFirst.rend()};
}

LatencyMedians latencyMedians(const std::vector<LatencyRecord>& records) {
    std::vector<std::int64_t> speech, polish, rest, speechLocal, speechCloud, polishLocal,
        polishCloud;
    for (const LatencyRecord& record : records) {
        speech.push_back(record.speechMs);
        polish.push_back(record.polishMs);
        if (record.restMs) {
            rest.push_back(*record.restMs);
        }
        (record.speech == LatencySource::cloud ? speechCloud : speechLocal)
            .push_back(record.speechMs);
        if (record.polish != LatencySource::none) {
            (record.polish == LatencySource::cloud ? polishCloud : polishLocal)
                .push_back(record.polishMs);
        }
    }
    return {median(speech),      median(polish),      median(rest),       median(speechLocal),
            median(speechCloud), median(polishLocal), median(polishCloud)};
}

}  // namespace vurin
