#include "pipeline/dictation_history.h"

#include <gtest/gtest.h>

#include "config/config.h"

namespace vurin {
namespace {

TEST(DictationHistoryTest, AudioSecondsAreRoundedAsPrintedToOneDecimal) {
    EXPECT_EQ(roundedAudioSeconds(2.46), 2.5);
    EXPECT_EQ(roundedAudioSeconds(2.44), 2.4);
    EXPECT_EQ(roundedAudioSeconds(0.0), 0.0);
    EXPECT_EQ(roundedAudioSeconds(59.96), 60.0);
    EXPECT_EQ(roundedAudioSeconds(1e300), 1e300);  // too long to print: kept as it is
}

TEST(DictationHistoryTest, TimestampIsUtcToTheSecondWithZ) {
    const auto time =
        std::chrono::system_clock::from_time_t(1740816930) + std::chrono::milliseconds(999);
    EXPECT_EQ(isoTimestampUTC(time), "2025-03-01T08:15:30Z");
}

TEST(DictationHistoryTest, RecordCarriesTextOnlyWhenSavedAndTimingOnlyWhenPresent) {
    Config config;
    config.saveTextHistory = false;
    const PipelineConfigSnapshot withoutText(config);
    const SpeechResult speech{{}, "原话", "本地", "ggml-large-v3-turbo"};
    PolishOutcome polish{"润色后", "本地qwen", "qwen2.5:7b",
                         OllamaTiming{1, std::nullopt, 3, std::nullopt, std::nullopt, 6}};
    DictationRecordInput input{
        std::chrono::system_clock::now(), 2.44, 812, 640, &withoutText, &speech, &polish, "润色后"};
    nlohmann::json record = dictationHistoryRecord(input);
    EXPECT_EQ(record.size(), 18u + 4u);
    EXPECT_EQ(record["audioSec"], 2.4);
    EXPECT_EQ(record["sttMs"], 812);
    EXPECT_EQ(record["ollamaTotalMs"], 1);
    EXPECT_EQ(record["ollamaPromptEvalMs"], 3);
    EXPECT_EQ(record["ollamaEvalTokens"], 6);
    EXPECT_FALSE(record.contains("ollamaLoadMs"));
    EXPECT_FALSE(record.contains("raw"));
    EXPECT_EQ(record.dump().find("润色后"), std::string::npos);

    config.saveTextHistory = true;
    const PipelineConfigSnapshot withText(config);
    polish.timing.reset();
    input.snapshot = &withText;
    record = dictationHistoryRecord(input);
    EXPECT_EQ(record.size(), 18u + 2u);
    EXPECT_EQ(record["raw"], "原话");
    EXPECT_EQ(record["polished"], "润色后");
    EXPECT_FALSE(record.contains("ollamaKeepAlive"));
}

}  // namespace
}  // namespace vurin
