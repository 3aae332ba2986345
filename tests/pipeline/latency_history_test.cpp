#include "pipeline/latency_history.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/wav_files.h"

namespace vurin {
namespace {

std::string line(int sttMs, int llmMs, std::optional<int> totalMs, const char* stt = "本地",
                 const char* polish = "本地qwen") {
    std::string text = "{\"ts\":\"2025-03-01T08:15:30Z\",\"sttMs\":" + std::to_string(sttMs) +
                       ",\"llmMs\":" + std::to_string(llmMs) + ",\"sttSource\":\"" + stt +
                       "\",\"polishSource\":\"" + polish + "\"";
    return text + (totalMs ? ",\"totalMs\":" + std::to_string(*totalMs) : "") + "}";
}

struct LineCase {
    const char* name;
    std::string line;
    std::optional<LatencyRecord> expected;
};

using Source = LatencySource;

// A line without a readable time or source is damaged: left out, never read as zero.
TEST(LatencyHistoryTest, EachLineGivesItsPartsAndSourcesOrNothing) {
    const LineCase cases[] = {
        {"local", line(812, 640, 1530), LatencyRecord{812, 640, 78, Source::local, Source::local}},
        {"cloud", line(300, 200, 600, "Groq", "OpenAI"),
         LatencyRecord{300, 200, 100, Source::cloud, Source::cloud}},
        {"unpolished", line(300, 5, 400, "本地", "未润色"),
         LatencyRecord{300, 5, 95, Source::local, Source::none}},
        {"beforeTotalMs", line(812, 640, std::nullopt),
         LatencyRecord{812, 640, std::nullopt, Source::local, Source::local}},
        {"totalShortOfItsParts", line(812, 640, 1451), LatencyRecord{812, 640, 0}},
        {"notJson", "{\"sttMs\":812,\"llmMs\":6", std::nullopt},
        {"empty", "", std::nullopt},
        {"array", "[1,2]", std::nullopt},
        {"noSpeechTime", R"({"llmMs":640,"sttSource":"本地","polishSource":"本地qwen"})",
         std::nullopt},
        {"timeAsText", R"({"sttMs":"812","llmMs":640,"sttSource":"本地","polishSource":"x"})",
         std::nullopt},
        {"fractionalTime", R"({"sttMs":812,"llmMs":6.5,"sttSource":"本地","polishSource":"x"})",
         std::nullopt},
        {"negativeTime", line(-1, 640, 1530), std::nullopt},
        {"totalAsText", R"({"sttMs":1,"llmMs":2,"totalMs":"9","sttSource":"a","polishSource":"b"})",
         std::nullopt},
        {"noSource", R"({"sttMs":812,"llmMs":640,"polishSource":"本地qwen"})", std::nullopt},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(latencyRecordOf(c.line), c.expected);
    }
}

// The newest 50 readable lines, oldest first, across the blocks the file is read back in; a
// damaged line costs its place to an older readable one. The history before them is never
// read: 64 MiB of it (a hole in the file where the file system allows) are passed over.
TEST(LatencyHistoryTest, TheLastReadableRecordsAreReadFromTheEnd) {
    const auto file = test::freshTestFolder("latency-history") / "history.jsonl";
    std::ofstream{file}.close();
    std::filesystem::resize_file(file, std::uintmax_t{64} << 20);
    {
        std::ofstream out(file, std::ios::app);
        out << "\n";
        for (int i = 1; i <= 120; ++i) {
            out << line(i, 1, i % 2 ? std::optional<int>(i + 10) : std::nullopt) << "\n";
            if (i % 10 == 0) {
                out << "{\"sttMs\":0,\"llmMs\":0\n";  // cut short by a crash
            }
        }
        out << line(121, 1, 200);  // no final line feed yet
    }
    const auto records = recentLatencyRecords(file, 50);
    ASSERT_EQ(records.size(), 50u);
    EXPECT_EQ(records.front().speechMs, 72);
    EXPECT_EQ(records.back().speechMs, 121);
    EXPECT_EQ(records.back().restMs, 78);
    EXPECT_EQ(records[0].restMs, std::nullopt);  // written before totalMs was
    EXPECT_EQ(records[1].restMs, 9);
    for (const LatencyRecord& record : records) {
        EXPECT_NE(record.speechMs, 0);
    }
    // Asked for more than there are, it stops in the hole, a few MiB back.
    EXPECT_EQ(recentLatencyRecords(file, 500).size(), 121u);
    EXPECT_TRUE(recentLatencyRecords(file.parent_path() / "none.jsonl", 50).empty());
}

TEST(LatencyHistoryTest, MediansOfEachPartAndOfEachSource) {
    const std::vector<LatencyRecord> records = {
        {100, 10, 5, Source::local, Source::local},
        {300, 30, std::nullopt, Source::cloud, Source::cloud},
        {200, 20, 7, Source::local, Source::none},
        {400, 40, std::nullopt, Source::cloud, Source::local}};
    const LatencyMedians m = latencyMedians(records);
    EXPECT_EQ(std::make_tuple(m.speech, m.polish, m.rest), std::make_tuple(300, 30, 7));
    EXPECT_EQ(std::make_tuple(m.speechLocal, m.speechCloud, m.polishLocal, m.polishCloud),
              std::make_tuple(200, 400, 40, 30));
    EXPECT_EQ(latencyMedians({}).speech, std::nullopt);
}

}  // namespace
}  // namespace vurin
