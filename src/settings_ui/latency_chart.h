#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/window_model.h"
#include "pipeline/latency_history.h"

namespace vurin {

// The settings window's latency card: the last dictations as stacked bars with each part's
// median beside them. Texts in the interface language of the moment.
inline constexpr std::size_t kLatencyChartDictations = 50;
inline constexpr const char* kSettingsLatencyChartId = "settings.latency.chart";
inline constexpr const char* kSettingsLatencyMediansId = "settings.latency.medians";

// One bar per record (speech-to-text, polish, then the rest when known), a part that ran in
// the cloud hatched; the scale's top is the longest bar rounded up to 1, 2, 3 or 5 times a power
// of ten.
StackedBarChart latencyChart(const std::vector<LatencyRecord>& records);

// The medians, one part a line, with local and cloud apart when the window holds both.
std::string latencyMediansText(const LatencyMedians& medians);

// "812 ms", "1.5 s".
std::string latencyDurationText(std::int64_t milliseconds);

Card latencyCard(const std::vector<LatencyRecord>& records);

}  // namespace vurin
