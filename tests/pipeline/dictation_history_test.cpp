#include "pipeline/dictation_history.h"

#include <gtest/gtest.h>

#include "config/config.h"
#include "support/runtime_metadata.h"

namespace vurin {
namespace {

using Json = nlohmann::json;

TEST(DictationHistoryTest, AudioSecondsAreRoundedAsPrintedToOneDecimal) {
    const std::pair<double, double> cases[] = {
        {2.46, 2.5}, {2.44, 2.4}, {0.0, 0.0}, {59.96, 60.0}, {1e300, 1e300}};  // too long to print
    for (const auto& [seconds, rounded] : cases) {
        EXPECT_EQ(roundedAudioSeconds(seconds), rounded) << seconds;
    }
}

// The history line: exactly its eighteen keys, ollama's figures when present, and the texts
// only when the user keeps them.
TEST(DictationHistoryTest, RecordHoldsItsEighteenKeysAndTextOnlyWhenSaved) {
    // Settings the snapshot must carry over, unlike their defaults.
    Config config;
    config.sendOnClick = false;
    config.sttCloudProvider = "openai";
    config.polishCloudProvider = "gemini";
    const PipelineConfigSnapshot withoutText(config);
    config.saveTextHistory = true;
    const PipelineConfigSnapshot withText(config);
    const SpeechResult speech{{}, "原话", "本地", "ggml-large-v3-turbo"};
    PolishOutcome polish{std::nullopt, "未润色", "qwen2.5:7b", std::nullopt};
    const auto at =
        std::chrono::system_clock::from_time_t(1740816930) + std::chrono::milliseconds(999);
    DictationRecordInput input{at, 2.44, 812, 640, &withoutText, &speech, &polish, "原话"};
    const RuntimeMetadata& machine = runtimeMetadata();
    Json expected = Json::parse(R"({"ts":"2025-03-01T08:15:30Z","audioSec":2.4,"sttMs":812,
        "llmMs":640,"promptVersion":"v4","polishFailed":true,"sendOnClick":false,"sttSource":"本地",
        "polishSource":"未润色","textSaved":false,"sttCloudProvider":"openai",
        "polishCloudProvider":"gemini","sttModel":"ggml-large-v3-turbo","polishModel":"qwen2.5:7b"})");
    expected.update({{"appVersion", machine.appVersion},
                     {"appBuild", machine.appBuild},
                     {"macOSVersion", machine.macOSVersion},
                     {"architecture", machine.architecture}});
    ASSERT_EQ(expected.size(), 18u);
    EXPECT_EQ(dictationHistoryRecord(input), expected);

    polish = {"润色后", "本地qwen", "qwen2.5:7b", OllamaTiming{1, 2, 3, 4, 5, 6}};
    input.finalText = "润色后";
    expected.update(Json::parse(R"({"polishFailed":false,"polishSource":"本地qwen",
        "ollamaKeepAlive":"30m","ollamaTotalMs":1,"ollamaLoadMs":2,"ollamaPromptEvalMs":3,
        "ollamaEvalMs":4,"ollamaPromptEvalTokens":5,"ollamaEvalTokens":6})"));
    EXPECT_EQ(dictationHistoryRecord(input), expected);

    polish.timing = OllamaTiming{std::nullopt, std::nullopt, 3};
    input.snapshot = &withText;
    for (const char* absent : {"ollamaTotalMs", "ollamaLoadMs", "ollamaEvalMs",
                               "ollamaPromptEvalTokens", "ollamaEvalTokens"}) {
        expected.erase(absent);
    }
    expected.update({{"textSaved", true}, {"raw", "原话"}, {"polished", "润色后"}});
    EXPECT_EQ(dictationHistoryRecord(input), expected);
}

}  // namespace
}  // namespace vurin
