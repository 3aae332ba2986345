#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/app_controller_fixture.h"

namespace vurin::testing {
namespace {

struct Row {
    const char* name;
    // P long press, R release, F<s> the recording ends with a file of <s> seconds, N it ends
    // without audio, C a paste is confirmed, S single click, D double click, X the phone's
    // double click (mid-recording), K the running job is cancelled, I the state is set to idle,
    // +<s> the clock advances. Checks: =<i|r|t|p> the state, #<n> jobs in flight, c the
    // cancellation taken at the last release is cancelled, ~<name> the last broadcast, g the
    // generation noted by G is stale, pending / none: a pasted text is (not) pending. Set-ups:
    // peak<dBFS>, failingRecorder, clickToSendOff, keystrokeFails.
    const char* script;
    // Every line logged after the launch's, then ♪ each cue, a job run, >text sent, <text undone.
    std::string effects;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

const std::string kRecording = "🔴 录音中…(松开结束,最长 60 秒) | ";
const std::string kDiscarded = "✖ 已取消(丢弃进行中的转写/润色或待确认注入) | ";
const std::string kTranscribing = "⏹ 录音结束(1.0s),转写中… | ";

class DictationTable : public AppControllerFixture, public ::testing::WithParamInterface<Row> {
  protected:
    void play(const std::string& script) {
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            const auto number = [&] { return std::stod(step.substr(step[0] == 'p' ? 4 : 1)); };
            if (step == "P") {
                pressLong();
            } else if (step == "R") {
                release();
                cancellation = controller->activePipelineCancellation();
            } else if (step[0] == 'F') {
                files.push_back(makeRecordingFile());
                finishRecording(files.back(), number());
            } else if (step == "N") {
                finishRecording(std::nullopt, 0.0);
            } else if (step == "C") {
                confirmPaste("hello");
            } else if (step == "S") {
                singleClick();
            } else if (step == "D") {
                doubleClick();
            } else if (step == "X") {
                controller->cancel();
            } else if (step == "K") {
                controller->activePipelineCancellation()->cancel();
            } else if (step == "I") {
                controller->setAppState(AppState::idle);
            } else if (step[0] == '+') {
                queue->advance(number());
            } else if (step[0] == '=') {
                EXPECT_EQ(controller->appState(), AppState(std::string("irtp").find(step[1])));
            } else if (step[0] == '#') {
                EXPECT_EQ(controller->inFlight(), number()) << step;
            } else if (step[0] == '~') {
                EXPECT_EQ(phone->broadcasts.back(), step.substr(1));
            } else if (step == "G") {
                generation = controller->pipelineGeneration().current();
            } else if (step == "g") {
                EXPECT_FALSE(controller->pipelineGeneration().isCurrent(generation));
            } else if (step == "pending" || step == "none") {
                EXPECT_EQ(controller->pending().has_value(), step == "pending");
            } else if (step == "c") {
                EXPECT_TRUE(cancellation && cancellation->isCancelled());
            } else if (step.starts_with("peak")) {
                peak = static_cast<float>(number());
            } else if (step == "failingRecorder") {
                recorder->startSucceeds = false;
            } else if (step == "clickToSendOff") {
                controller->config().sendOnClick = false;
            } else if (step == "keystrokeFails") {
                injector->sendOutcome = SendOutcome::keystrokeFailed;
            } else {
                ADD_FAILURE() << "unknown step " << step;
            }
        }
    }

    std::vector<std::filesystem::path> files;
    std::shared_ptr<PipelineCancellation> cancellation;
    std::int64_t generation = 0;
};

TEST_P(DictationTable, Plays) {
    launch();
    logs.clear();
    play(GetParam().script);
    std::vector<std::string> effects = logs;
    for (const auto& name : sound->played) {
        effects.push_back("♪" + name);
    }
    effects.insert(effects.end(), runner->jobs.size(), "job");
    for (const auto& text : injector->sent) {
        effects.push_back(">" + text);
    }
    for (const auto& text : injector->undone) {
        effects.push_back("<" + text);
    }
    std::string joined;
    for (const auto& effect : effects) {
        joined += (joined.empty() ? "" : " | ") + effect;
    }
    EXPECT_EQ(joined, GetParam().effects);
    for (const auto& file : files) {
        EXPECT_FALSE(std::filesystem::exists(file)) << "a recording was left behind";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dictation, DictationTable,
    ::testing::Values(
        Row{"LongPressRecords", "P =r", kRecording + "♪Pop"},
        Row{"RecorderFailureIsSilent", "failingRecorder P +61 =i ~idle", ""},
        Row{"ReleaseRunsOneJob", "P R =t #1 F1.0 #0 =t", kRecording + kTranscribing + "♪Pop | job"},
        Row{"Short399ms", "P R F0.399 =i", kRecording + "🗑 录音太短(399ms),忽略 | ♪Pop"},
        Row{"LongEnough400ms", "P R F0.4 =t",
            kRecording + "⏹ 录音结束(0.4s),转写中… | ♪Pop | job"},
        Row{"PeakOfMinus55IsKept", "peak-55 P R F1.0 =t",
            kRecording + kTranscribing + "♪Pop | job"},
        Row{"BelowMinus55IsSilence", "peak-55.01 P R F1.0 =i",
            kRecording + "🔇 检测到静音(峰值 -55 dBFS),丢弃不转写(避免幻觉)。检查麦克风是否有声音。 "
                         "| ♪Pop | ♪Bottle"},
        Row{"MissingAudio", "P R N #0 =i", kRecording + "❌ 录音失败,没有可用音频 | ♪Pop"},
        Row{"MissingAudioOfACancelledJob", "P R K N #0 =t", kRecording + "♪Pop"},
        Row{"NewLongPressMakesTheOldJobStale", "P R P c F1.0 #0 =r",
            kRecording + kRecording + "♪Pop | ♪Pop"},
        Row{"SixtySecondLimit", "P +59.9 =r +0.1 =t R #1",
            kRecording + "⏱ 达到 60 秒上限,自动截断 | ♪Pop"},
        Row{"LongPressInPendingSendKeepsTheText", "C P =r none", kRecording + "♪Pop"},
        Row{"ClickSends", "C =p S =i none", ">hello"},
        Row{"ClickKeepsPendingWhenTheKeystrokeFails", "keystrokeFails C S =p pending", ">hello"},
        Row{"ClickToSendOffThenDoubleClickUndoes", "clickToSendOff C S =p D =i",
            "⏎ 单击(单击发送已关闭,请手动回车) | ♪Bottle | <hello"},
        Row{"ClickInIdle", "clickToSendOff S =i", "⏎ 单击(无待发送内容,忽略)"},
        Row{"PhoneDoubleClickWhileRecording", "P G X =i g F2.0 +61 #0 =i",
            kRecording + "✖ 已取消录音 | ♪Pop | ♪Bottle"},
        Row{"DoubleClickWhileTranscribing", "P R G D c g =i F1.0",
            kRecording + kDiscarded + "♪Pop | ♪Bottle"},
        Row{"DoubleClickWithAJobInFlight", "P R I D =i",
            kRecording + kDiscarded + "♪Pop | ♪Bottle"},
        Row{"DoubleClickInPendingSend", "C D =i none", "♪Bottle | <hello"},
        Row{"DoubleClickWithNothingToCancel", "D =i", "✖ 双击(当前无可取消的任务)"}),
    [](const auto& info) { return std::string(info.param.name); });

using Dictation = AppControllerFixture;

TEST_F(Dictation, EveryAssignmentIsBroadcastAndNothingToCancelAssignsNone) {
    launch();
    confirmPaste("hello");
    EXPECT_EQ(phone->broadcasts.back(), "pending");
    doubleClick();
    const auto broadcasts = phone->broadcasts.size();
    const auto attempt = controller->injectionAttempt();
    doubleClick();
    EXPECT_EQ(phone->broadcasts.size(), broadcasts);
    EXPECT_EQ(controller->injectionAttempt(), attempt + 1);
    controller->setAppState(AppState::idle);
    controller->setAppState(AppState::idle);
    EXPECT_EQ(phone->broadcasts.size(), broadcasts + 2);
}

TEST_F(Dictation, TheJobCarriesTheRecordingAndTheSettingsAsTheyWereAtRelease) {
    controller->config().micDevice = "system";
    launch();
    pressLong();
    EXPECT_EQ(recorder->warmUps, std::vector<bool>{false});
    EXPECT_EQ(recorder->starts, std::vector<bool>{false});
    controller->config().sttProvider = "cloud";
    release();
    controller->config().sttProvider = "local";
    const auto cancellation = controller->activePipelineCancellation();
    const auto file = makeRecordingFile();
    finishRecording(file, 1.0);
    ASSERT_EQ(runner->jobs.size(), 1U);
    const DictationJob& job = runner->jobs[0];
    EXPECT_EQ(job.audioURL, file);
    EXPECT_DOUBLE_EQ(job.audioDuration, 1.0);
    EXPECT_EQ(job.generation, controller->pipelineGeneration().current());
    EXPECT_EQ(job.cancellation, cancellation);
    EXPECT_EQ(job.snapshot.sttProvider(), "cloud");
    EXPECT_TRUE(runner->fileExistedDuringRun[0]);
    EXPECT_EQ(controller->activePipelineCancellation(), nullptr);
}

TEST_F(Dictation, JobMadeStaleWhileRunningKeepsItsFileUntilRunReturns) {
    launch();
    pressLong();
    release();
    runner->onRun = [&](const DictationJob& job, const DictationHooks& hooks) {
        EXPECT_TRUE(hooks.isCurrent(job.generation));
        controller->startRecording();
        EXPECT_FALSE(hooks.isCurrent(job.generation));
        EXPECT_TRUE(job.cancellation->isCancelled());
        EXPECT_TRUE(std::filesystem::exists(job.audioURL));
    };
    finishRecording(makeRecordingFile(), 1.0);
    EXPECT_EQ(runner->jobs.size(), 1U);
    EXPECT_EQ(controller->appState(), AppState::recording);
}

TEST_F(Dictation, EpilogueNeverClearsANewerJobsCancellation) {
    launch();
    pressLong();
    release();
    pressLong();
    release();
    const auto newer = controller->activePipelineCancellation();
    EXPECT_EQ(controller->inFlight(), 2);
    finishRecording(makeRecordingFile(), 1.0);  // the first, stale job
    EXPECT_EQ(controller->activePipelineCancellation(), newer);
    EXPECT_EQ(controller->inFlight(), 1);
}

TEST_F(Dictation, HooksReachTheControllerAndDoNothingOnceItIsGone) {
    launch();
    whisper->ready = true;
    pressLong();
    release();
    finishRecording(makeRecordingFile(), 1.0);
    DictationHooks hooks = *runner->lastHooks;
    const auto generation = runner->jobs[0].generation;
    EXPECT_TRUE(hooks.isLocalSTTReady());
    EXPECT_FALSE(hooks.isLocalPolishReady());
    hooks.localSTTRequestFailed();
    ASSERT_EQ(whisper->recoveries.size(), 1U);
    const auto maintained = whisper->maintained.size();
    whisper->recoveries[0]();
    EXPECT_EQ(whisper->maintained.size(), maintained + 1);
    hooks.inject("text");
    EXPECT_EQ(injector->injected, std::vector<std::string>{"text"});
    EXPECT_FALSE(injector->lastHost.expired());

    pressLong();  // a stale job's idle leaves the newer recording alone
    hooks.setIdleIfCurrent(generation);
    EXPECT_EQ(controller->appState(), AppState::recording);
    hooks.setIdleIfCurrent(controller->pipelineGeneration().current());
    EXPECT_EQ(controller->appState(), AppState::idle);

    release();
    controller.reset();
    const auto file = makeRecordingFile();  // nobody is left to process it: it goes
    finishRecording(file, 1.0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(runner->jobs.size(), 1U);
    EXPECT_FALSE(hooks.isCurrent(generation));
    EXPECT_FALSE(hooks.isLocalSTTReady());
    hooks.inject("late");
    hooks.warnNotConfigured();
    EXPECT_EQ(injector->injected.size(), 1U);
    EXPECT_TRUE(shell->alerts.empty());
}

}  // namespace
}  // namespace vurin::testing
