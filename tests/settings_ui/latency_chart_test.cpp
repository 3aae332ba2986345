#include "settings_ui/latency_chart.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/language.h"
#include "support/settings_controller_fixture.h"

namespace vurin::testing {
namespace {

using Source = LatencySource;

// A part that ran in the cloud is hatched; a line from before totalMs has two parts; the scale
// is the longest bar rounded up.
TEST(LatencyChartTest, OneStackedBarPerDictation) {
    applyUILang("en");
    const StackedBarChart chart =
        latencyChart({{800, 600, 120, Source::local, Source::local},
                      {300, 900, std::nullopt, Source::cloud, Source::cloud},
                      {2500, 4, 90, Source::local, Source::none}});
    ASSERT_EQ(chart.bars.size(), 3u);
    const auto parts = [](const std::vector<BarSegment>& bar) {
        std::string text;
        for (const BarSegment& segment : bar) {
            text += std::to_string(segment.series) + ":" +
                    std::to_string(static_cast<int>(segment.value)) + (segment.hatched ? "/" : "") +
                    " ";
        }
        return text;
    };
    EXPECT_EQ(parts(chart.bars[0]), "0:800 1:600 2:120 ");
    EXPECT_EQ(parts(chart.bars[1]), "0:300/ 1:900/ ");
    EXPECT_EQ(parts(chart.bars[2]), "0:2500 1:4 2:90 ");
    EXPECT_EQ(std::make_pair(chart.scaleMaximum, chart.scaleLabel),
              std::make_pair(3000.0, std::string("3.0 s")));
    EXPECT_EQ(latencyChart({{40, 30, 10}}).scaleLabel, "100 ms");
    EXPECT_EQ(latencyChart({{900, 600, 400}}).scaleLabel, "2.0 s");
}

// The medians beside the chart, in either language; local and cloud apart only when both ran.
TEST(LatencyChartTest, MediansInBothLanguages) {
    const LatencyMedians both{812, 640, std::nullopt, 700, 1250, 640, std::nullopt};
    const LatencyMedians local{812, 640, 95, 812, std::nullopt, 640, std::nullopt};
    applyUILang("zh");
    EXPECT_EQ(latencyMediansText(both),
              "中位数\n语音转文字 812 ms\n  本地 700 ms · 云端 1.2 s\n润色 640 ms\n其余 —");
    applyUILang("en");
    EXPECT_EQ(latencyMediansText(local),
              "Medians\nSpeech to text 812 ms\nPolish 640 ms\nRest 95 ms");
    EXPECT_EQ(latencyMediansText({}), "");
}

// The general pane shows the history as it is when the window opens, and again after each
// dictation while it is open.
TEST_F(SettingsControllerFixture, TheLatencyChartFollowsTheHistory) {
    ensurePrivateConfigDirectory();
    std::ofstream(historyURL()) << R"({"sttMs":812,"llmMs":640,"totalMs":1530,"sttSource":"本地",)"
                                << R"("polishSource":"本地qwen"})"
                                << "\n";
    settingsController->showSettings();
    const auto shownChart = [&]() -> const StackedBarChart* {
        for (const Card& card : window()->model.panes.at(0).cards) {
            for (const CardBlock& block : card.blocks) {
                const auto* controls = std::get_if<ControlRowBlock>(&block);
                if (controls == nullptr) {
                    continue;
                }
                for (const Control& control : controls->controls) {
                    if (control.id == kSettingsLatencyChartId) {
                        return &std::get<StackedBarChart>(control.kind);
                    }
                }
            }
        }
        return nullptr;
    };
    ASSERT_NE(shownChart(), nullptr);
    EXPECT_EQ(shownChart()->bars.size(), 1u);
    EXPECT_EQ(window()->shownText(kSettingsLatencyMediansId).substr(0, 9), "中位数");

    std::ofstream(historyURL(), std::ios::app) << "damaged\n"
                                               << R"({"sttMs":300,"llmMs":200,"sttSource":"Groq",)"
                                               << R"("polishSource":"Groq"})"
                                               << "\n";
    settingsController->refreshLatencyChart();
    ASSERT_EQ(window()->charts.at(kSettingsLatencyChartId).bars.size(), 2u);
    EXPECT_TRUE(window()->charts.at(kSettingsLatencyChartId).bars[1][0].hatched);
    settingsController->windowWillClose();
    settingsController->refreshLatencyChart();  // closed: nothing to draw on
}

}  // namespace
}  // namespace vurin::testing
