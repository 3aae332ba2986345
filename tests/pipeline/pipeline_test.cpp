#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>

#include "config/config.h"
#include "pipeline/dictation_history.h"
#include "pipeline/pipeline_cancellation.h"
#include "support/runtime_metadata.h"

namespace vurin {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

// Exactly the eighteen keys and the whole time, ollama's figures and the guard's reason when
// present, the texts only when kept.
TEST(DictationHistoryTest, RecordHoldsItsEighteenKeysAndTextOnlyWhenSaved) {
    Config config;  // settings the snapshot must carry over, unlike their defaults
    config.sendOnClick = false;
    config.sttCloudProvider = "openai";
    config.polishCloudProvider = "gemini";
    const PipelineConfigSnapshot withoutText(config);
    config.saveTextHistory = true;
    const PipelineConfigSnapshot withText(config);
    // Each of the eight settings is copied: changing any one gives another snapshot.
    const std::vector<std::function<void(Config&)>> changes = {
        [](Config& c) { c.sendOnClick = !c.sendOnClick; },
        [](Config& c) { c.sttProvider += "x"; },
        [](Config& c) { c.sttLanguage += "x"; },
        [](Config& c) { c.polishProvider += "x"; },
        [](Config& c) { c.allowCloudFallback = !c.allowCloudFallback; },
        [](Config& c) { c.saveTextHistory = !c.saveTextHistory; },
        [](Config& c) { c.sttCloudProvider += "x"; },
        [](Config& c) { c.polishCloudProvider += "x"; }};
    EXPECT_EQ(PipelineConfigSnapshot(config), withText);
    for (const auto& change : changes) {
        Config changed = config;
        change(changed);
        EXPECT_NE(PipelineConfigSnapshot(changed), withText);
    }
    const SpeechResult speech{{}, "原话", "本地", "ggml-large-v3-turbo"};
    PolishOutcome polish{std::nullopt, "未润色", "qwen2.5:7b", std::nullopt};
    const auto at = std::chrono::system_clock::from_time_t(1740816930) + 999ms;
    DictationRecordInput input{at, 2.44, 812, 640, &withoutText, &speech, &polish, "原话", 1530};
    const RuntimeMetadata& machine = runtimeMetadata();
    Json expected = Json::parse(R"({"ts":"2025-03-01T08:15:30Z","audioSec":2.4,"sttMs":812,
        "llmMs":640,"totalMs":1530,"promptVersion":"v4","polishFailed":true,"sendOnClick":false,"sttSource":"本地",
        "polishSource":"未润色","textSaved":false,"sttCloudProvider":"openai",
        "polishCloudProvider":"gemini","sttModel":"ggml-large-v3-turbo","polishModel":"qwen2.5:7b"})");
    expected.update({{"appVersion", machine.appVersion},
                     {"appBuild", machine.appBuild},
                     {"macOSVersion", machine.macOSVersion},
                     {"architecture", machine.architecture}});
    EXPECT_EQ(dictationHistoryRecord(input), expected);

    polish = {"润色后", "本地qwen", "qwen2.5:7b", OllamaTiming{std::nullopt, 2, 3, 4, 5, 6}};
    input = {at, 2.46, 812, 640, &withText, &speech, &polish, "润色后", 1530, "reply"};
    expected.update(Json::parse(R"({"polishFailed":false,"polishSource":"本地qwen","audioSec":2.5,
        "ollamaKeepAlive":"30m","ollamaLoadMs":2,"ollamaPromptEvalMs":3,"ollamaEvalMs":4,
        "ollamaPromptEvalTokens":5,"ollamaEvalTokens":6,"textSaved":true,"raw":"原话","polished":"润色后","polishRejected":"reply"})"));
    EXPECT_EQ(dictationHistoryRecord(input), expected);
    EXPECT_EQ(roundedAudioSeconds(59.96), 60.0);
    EXPECT_EQ(roundedAudioSeconds(1e300), 1e300);
}

struct CountingTask : CancellableTask {
    void cancel() override {
        ++cancels;
        onCancel();
    }
    std::atomic<int> cancels{0};
    std::function<void()> onCancel = [] {};
};
using Task = std::shared_ptr<CountingTask>;

Task task() {
    return std::make_shared<CountingTask>();
}

TEST(PipelineCancellationTest, CancelAbortsTheLastRegisteredUnclearedTaskOnceAndLaterOnesAtOnce) {
    PipelineCancellation cancellation, cleared;
    auto first = task(), second = task(), other = task(), late = task(), gone = task();
    cancellation.registerTask(first);
    cancellation.registerTask(second);
    cancellation.registerTask(nullptr);
    cancellation.clear(other);  // not the registered one: kept
    EXPECT_FALSE(cancellation.isCancelled());
    cancellation.cancel();
    cancellation.cancel();
    EXPECT_TRUE(cancellation.isCancelled());
    EXPECT_EQ(std::make_pair(first->cancels.load(), second->cancels.load()), std::make_pair(0, 1));
    cancellation.registerTask(late);
    cancellation.cancel();
    EXPECT_EQ(late->cancels, 1) << "registered after the cancel: aborted at once, not stored";

    const std::weak_ptr<CountingTask> watch = gone;
    cleared.registerTask(gone);
    gone.reset();
    EXPECT_TRUE(watch.expired()) << "the slot keeps no task alive";
    cleared.clear(other);
    cleared.registerTask(other);
    cleared.clear(other);
    cleared.cancel();
    EXPECT_EQ(other->cancels, 0);
}

// A lock held across a task's cancel() deadlocks: that stops the binary instead of hanging it.
void runWithoutDeadlock(const std::function<void()>& body) {
    if (std::async(std::launch::async, body).wait_for(std::chrono::seconds(20)) !=
        std::future_status::ready) {
        ADD_FAILURE() << "deadlock: a lock is still held while a task is called";
        std::abort();
    }
}

TEST(PipelineCancellationTest, TaskCancelRunsOutsideTheLock) {
    PipelineCancellation cancellation;
    bool sawCancelled = false;
    auto reentering = task(), late = task(), immediate = task();
    reentering->onCancel = [&] {
        sawCancelled = cancellation.isCancelled();
        cancellation.clear(reentering);
        cancellation.registerTask(late);
    };
    cancellation.registerTask(reentering);
    runWithoutDeadlock([&] { cancellation.cancel(); });
    EXPECT_TRUE(sawCancelled);
    EXPECT_EQ(late->cancels, 1);
    immediate->onCancel = [&] { cancellation.clear(nullptr); };
    runWithoutDeadlock([&] { cancellation.registerTask(immediate); });
    EXPECT_EQ(immediate->cancels, 1);
}

}  // namespace
}  // namespace vurin
