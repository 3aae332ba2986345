#include "settings_ui/latency_chart.h"

#include <algorithm>
#include <cstdio>

#include "support/language.h"

namespace vurin {
namespace {

constexpr int kChartWidth = 270;
constexpr int kChartHeight = 140;
constexpr int kMediansWidth = 200;

enum Series { speechSeries = 0, polishSeries = 1, restSeries = 2 };

double scaleFor(std::int64_t longest) {
    double power = 100;  // a scale never shorter than 100 ms
    while (true) {
        for (const double step : {1.0, 2.0, 3.0, 5.0}) {
            if (static_cast<double>(longest) <= step * power) {
                return step * power;
            }
        }
        power *= 10;
    }
}

std::string line(std::string_view name, const std::optional<std::int64_t>& median) {
    return std::string(name) + " " + (median ? latencyDurationText(*median) : "—");
}

}  // namespace

std::string latencyDurationText(std::int64_t milliseconds) {
    if (milliseconds < 1000) {
        return std::to_string(milliseconds) + " ms";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

StackedBarChart latencyChart(const std::vector<LatencyRecord>& records) {
    StackedBarChart chart{.series = {{L("语音转文字", "Speech to text"), ColourRole::accent},
                                     {L("润色", "Polish"), ColourRole::green},
                                     {L("其余", "Rest"), ColourRole::tertiary}},
                          .hatchedName = L("云端", "Cloud"),
                          .emptyText = L("还没有听写记录", "No dictations yet"),
                          .width = kChartWidth,
                          .height = kChartHeight};
    std::int64_t longest = 0;
    for (const LatencyRecord& record : records) {
        std::vector<BarSegment> bar = {{static_cast<double>(record.speechMs), speechSeries,
                                        record.speech == LatencySource::cloud},
                                       {static_cast<double>(record.polishMs), polishSeries,
                                        record.polish == LatencySource::cloud}};
        if (record.restMs) {
            bar.push_back({static_cast<double>(*record.restMs), restSeries, false});
        }
        longest = std::max(longest, record.speechMs + record.polishMs + record.restMs.value_or(0));
        chart.bars.push_back(std::move(bar));
    }
    chart.scaleMaximum = scaleFor(longest);
    chart.scaleLabel = latencyDurationText(static_cast<std::int64_t>(chart.scaleMaximum));
    return chart;
}

std::string latencyMediansText(const LatencyMedians& m) {
    if (!m.speech) {
        return {};
    }
    const auto apart = [](const std::optional<std::int64_t>& local,
                          const std::optional<std::int64_t>& cloud) {
        return local && cloud ? "\n  " + line(L("本地", "local"), local) + " · " +
                                    line(L("云端", "cloud"), cloud)
                              : std::string();
    };
    return L("中位数", "Medians") + "\n" + line(L("语音转文字", "Speech to text"), m.speech) +
           apart(m.speechLocal, m.speechCloud) + "\n" + line(L("润色", "Polish"), m.polish) +
           apart(m.polishLocal, m.polishCloud) + "\n" + line(L("其余", "Rest"), m.rest);
}

Card latencyCard(const std::vector<LatencyRecord>& records) {
    const std::vector<Control> controls = {
        Control{kSettingsLatencyChartId, latencyChart(records)},
        makeLabel(
            latencyMediansText(latencyMedians(records)),
            TextStyle{.pointSize = 12, .colour = ColourRole::secondary, .width = kMediansWidth},
            kSettingsLatencyMediansId)};
    return Card{.symbol = "chart.bar",
                .title = L("延迟 · 最近 50 次听写", "Latency · last 50 dictations"),
                .blocks = {ControlRowBlock{.controls = controls}}};
}

}  // namespace vurin
