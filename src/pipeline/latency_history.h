#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace vurin {

enum class LatencySource { local, cloud, none };

// One dictation's times as its history line gives them.
struct LatencyRecord {
    std::int64_t speechMs = 0;
    std::int64_t polishMs = 0;
    // The rest of release-to-text (recording's end, the guard, handing over the text); absent in
    // lines written before the whole time was recorded.
    std::optional<std::int64_t> restMs;
    LatencySource speech = LatencySource::local;
    // `none` when nothing was polished (the time is still the attempt's).
    LatencySource polish = LatencySource::local;

    bool operator==(const LatencyRecord&) const = default;
};

// A history line's times, or nothing when the line is damaged (not JSON, or a time or source
// missing or of the wrong type): a damaged line is left out, never read as zero.
std::optional<LatencyRecord> latencyRecordOf(std::string_view line);

// The last `count` readable records of the history file, oldest first. The file is read from
// its end, so a long history costs no more than a short one; nothing when it cannot be read.
std::vector<LatencyRecord> recentLatencyRecords(const std::filesystem::path& file,
                                                std::size_t count);

struct LatencyMedians {
    std::optional<std::int64_t> speech, polish, rest;
    // The parts by where they ran, for a user choosing between local and cloud.
    std::optional<std::int64_t> speechLocal, speechCloud, polishLocal, polishCloud;
};

// Each part's median over the records that have it (the upper of the middle two for an even
// count, a time that was measured rather than one between).
LatencyMedians latencyMedians(const std::vector<LatencyRecord>& records);

}  // namespace vurin
