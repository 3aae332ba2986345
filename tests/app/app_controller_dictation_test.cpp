#include <gtest/gtest.h>

#include <filesystem>

#include "support/app_controller_fixture.h"

namespace vurin::testing {
namespace {

using Dictation = AppControllerFixture;

TEST_F(Dictation, LongPressStartsRecordingWithCueAndBroadcast) {
    launch();
    pressLong();
    EXPECT_EQ(controller->appState(), AppState::recording);
    EXPECT_EQ(recorder->starts, std::vector<bool>{true});
    EXPECT_EQ(sound->played, std::vector<std::string>{"Pop"});
    EXPECT_TRUE(logged("🔴 录音中…(松开结束,最长 60 秒)"));
    EXPECT_EQ(phone->broadcasts.back(), "recording");
    EXPECT_EQ(shell->statusItem->title, "🔴");
    EXPECT_EQ(shell->statusItem->toolTip, "Vurin — 录音中…");
}

TEST_F(Dictation, RecorderFailureReturnsToIdleSilently) {
    launch();
    recorder->startSucceeds = false;
    pressLong();
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_TRUE(sound->played.empty());
    EXPECT_EQ(phone->broadcasts.back(), "idle");
    queue->advance(61.0);
    EXPECT_FALSE(logged("⏱ 达到 60 秒上限,自动截断"));
}

TEST_F(Dictation, SystemMicrophoneSettingIsPassedToRecorder) {
    controller->config().micDevice = "system";
    launch();
    pressLong();
    EXPECT_EQ(recorder->warmUps, std::vector<bool>{false});
    EXPECT_EQ(recorder->starts, std::vector<bool>{false});
}

TEST_F(Dictation, ReleaseRunsOneJobAndDeletesTheFileAfterwards) {
    launch();
    pressLong();
    release();
    EXPECT_EQ(controller->appState(), AppState::transcribing);
    EXPECT_EQ(controller->inFlight(), 1);
    const auto cancellation = controller->activePipelineCancellation();
    ASSERT_NE(cancellation, nullptr);

    const auto file = makeRecordingFile();
    finishRecording(file, 1.0);
    ASSERT_EQ(runner->jobs.size(), 1U);
    const DictationJob& job = runner->jobs[0];
    EXPECT_EQ(job.audioURL, file);
    EXPECT_DOUBLE_EQ(job.audioDuration, 1.0);
    EXPECT_EQ(job.generation, controller->pipelineGeneration().current());
    EXPECT_EQ(job.cancellation, cancellation);
    EXPECT_EQ(job.snapshot, PipelineConfigSnapshot(Config{}));
    EXPECT_TRUE(runner->fileExistedDuringRun[0]);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(logged("⏹ 录音结束(1.0s),转写中…"));
    EXPECT_EQ(controller->inFlight(), 0);
    EXPECT_EQ(controller->activePipelineCancellation(), nullptr);
}

TEST_F(Dictation, SnapshotIsTakenAtReleaseNotAtRun) {
    launch();
    pressLong();
    controller->config().sttProvider = "cloud";
    release();
    controller->config().sttProvider = "local";
    finishRecording(makeRecordingFile(), 2.0);
    ASSERT_EQ(runner->jobs.size(), 1U);
    EXPECT_EQ(runner->jobs[0].snapshot.sttProvider(), "cloud");
}

TEST_F(Dictation, DurationBoundaryIsInclusiveAtFourHundredMilliseconds) {
    launch();
    pressLong();
    release();
    const auto shortFile = makeRecordingFile();
    finishRecording(shortFile, 0.399);
    EXPECT_TRUE(logged("🗑 录音太短(399ms),忽略"));
    EXPECT_TRUE(runner->jobs.empty());
    EXPECT_FALSE(std::filesystem::exists(shortFile));
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_TRUE(std::find(sound->played.begin(), sound->played.end(), "Bottle") ==
                sound->played.end());

    pressLong();
    release();
    finishRecording(makeRecordingFile(), 0.4);
    EXPECT_EQ(runner->jobs.size(), 1U);
}

TEST_F(Dictation, SilenceBoundaryIsInclusiveAtMinusFiftyFive) {
    launch();
    peak = -55.0F;
    pressLong();
    release();
    finishRecording(makeRecordingFile(), 1.0);
    EXPECT_EQ(runner->jobs.size(), 1U);

    peak = -55.01F;
    sound->played.clear();
    pressLong();
    release();
    const auto silent = makeRecordingFile();
    finishRecording(silent, 1.0);
    EXPECT_EQ(runner->jobs.size(), 1U);
    EXPECT_TRUE(logged("🔇 检测到静音(峰值 -55 dBFS),丢弃不转写(避免幻觉)。检查麦克风是否有声音。"));
    EXPECT_EQ(sound->played, (std::vector<std::string>{"Pop", "Bottle"}));
    EXPECT_FALSE(std::filesystem::exists(silent));
    EXPECT_EQ(controller->appState(), AppState::idle);
}

TEST_F(Dictation, MissingAudioIsReportedUnlessCancelled) {
    launch();
    pressLong();
    release();
    finishRecording(std::nullopt, 0.0);
    EXPECT_TRUE(logged("❌ 录音失败,没有可用音频"));
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_EQ(controller->inFlight(), 0);

    logs.clear();
    pressLong();
    release();
    controller->activePipelineCancellation()->cancel();
    finishRecording(std::nullopt, 0.0);
    EXPECT_FALSE(logged("❌ 录音失败,没有可用音频"));
    EXPECT_EQ(controller->inFlight(), 0);
}

TEST_F(Dictation, NewLongPressDuringTranscribingMakesTheOldJobStale) {
    launch();
    pressLong();
    release();
    const auto oldCancellation = controller->activePipelineCancellation();
    pressLong();
    EXPECT_TRUE(oldCancellation->isCancelled());
    EXPECT_EQ(controller->appState(), AppState::recording);

    const auto staleFile = makeRecordingFile();
    finishRecording(staleFile, 1.0);
    EXPECT_TRUE(runner->jobs.empty());
    EXPECT_FALSE(std::filesystem::exists(staleFile));
    EXPECT_EQ(controller->appState(), AppState::recording);
    EXPECT_EQ(controller->inFlight(), 0);
}

TEST_F(Dictation, JobMadeStaleWhileRunningKeepsItsFileUntilRunReturns) {
    launch();
    pressLong();
    release();
    bool currentBefore = false;
    bool currentAfter = true;
    bool fileKept = false;
    runner->onRun = [&](const DictationJob& job, const DictationHooks& hooks) {
        currentBefore = hooks.isCurrent(job.generation);
        controller->startRecording();
        currentAfter = hooks.isCurrent(job.generation);
        fileKept = std::filesystem::exists(job.audioURL);
        EXPECT_TRUE(job.cancellation->isCancelled());
    };
    const auto file = makeRecordingFile();
    finishRecording(file, 1.0);
    EXPECT_TRUE(currentBefore);
    EXPECT_FALSE(currentAfter);
    EXPECT_TRUE(fileKept);
    EXPECT_FALSE(std::filesystem::exists(file));
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
    finishRecording(makeRecordingFile(), 1.0);
    EXPECT_EQ(controller->activePipelineCancellation(), nullptr);
    EXPECT_EQ(controller->inFlight(), 0);
}

TEST_F(Dictation, SixtySecondLimitStopsAndTheLaterReleaseDoesNothing) {
    launch();
    pressLong();
    queue->advance(59.9);
    EXPECT_EQ(controller->appState(), AppState::recording);
    queue->advance(0.1);
    EXPECT_TRUE(logged("⏱ 达到 60 秒上限,自动截断"));
    EXPECT_EQ(controller->appState(), AppState::transcribing);
    EXPECT_EQ(recorder->completions.size(), 1U);
    release();
    EXPECT_EQ(recorder->completions.size(), 1U);
    EXPECT_EQ(controller->inFlight(), 1);
}

TEST_F(Dictation, LongPressInPendingSendDropsPendingWithoutTouchingTheText) {
    launch();
    confirmPaste("hello");
    pressLong();
    EXPECT_FALSE(controller->pending().has_value());
    EXPECT_TRUE(injector->undone.empty());
    EXPECT_EQ(controller->appState(), AppState::recording);
}

TEST_F(Dictation, SingleClickSendsThePendingText) {
    launch();
    confirmPaste("hello");
    EXPECT_EQ(phone->broadcasts.back(), "pending");
    singleClick();
    EXPECT_EQ(injector->sent, std::vector<std::string>{"hello"});
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_FALSE(controller->pending().has_value());
}

TEST_F(Dictation, SingleClickKeepsPendingWhenTheKeystrokeCannotBeMade) {
    launch();
    confirmPaste("hello");
    injector->sendOutcome = SendOutcome::keystrokeFailed;
    singleClick();
    EXPECT_EQ(controller->appState(), AppState::pendingSend);
    EXPECT_TRUE(controller->pending().has_value());
}

TEST_F(Dictation, ClickToSendOffKeepsPendingAndDoubleClickStillUndoes) {
    controller->config().sendOnClick = false;
    launch();
    confirmPaste("hello");
    singleClick();
    EXPECT_TRUE(logged("⏎ 单击(单击发送已关闭,请手动回车)"));
    EXPECT_TRUE(injector->sent.empty());
    EXPECT_EQ(controller->appState(), AppState::pendingSend);
    doubleClick();
    EXPECT_EQ(injector->undone, std::vector<std::string>{"hello"});
    EXPECT_EQ(controller->appState(), AppState::idle);
}

TEST_F(Dictation, SingleClickInIdleIsIgnoredWhateverClickToSendSays) {
    controller->config().sendOnClick = false;
    launch();
    singleClick();
    EXPECT_TRUE(logged("⏎ 单击(无待发送内容,忽略)"));
    EXPECT_FALSE(logged("⏎ 单击(单击发送已关闭,请手动回车)"));
}

TEST_F(Dictation, DoubleClickDuringRecordingDiscardsTheAudio) {
    launch();
    pressLong();
    const auto generation = controller->pipelineGeneration().current();
    controller->cancel();  // the double click, as the phone remote can deliver it mid-recording
    EXPECT_TRUE(logged("✖ 已取消录音"));
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_FALSE(controller->pipelineGeneration().isCurrent(generation));
    EXPECT_EQ(sound->played, (std::vector<std::string>{"Pop", "Bottle"}));
    ASSERT_EQ(recorder->completions.size(), 1U);
    const auto file = makeRecordingFile();
    finishRecording(file, 2.0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(runner->jobs.empty());
    EXPECT_EQ(controller->inFlight(), 0);
    queue->advance(61.0);
    EXPECT_FALSE(logged("⏱ 达到 60 秒上限,自动截断"));
}

TEST_F(Dictation, DoubleClickWhileTranscribingMakesTheJobStale) {
    launch();
    pressLong();
    release();
    const auto cancellation = controller->activePipelineCancellation();
    const auto generation = controller->pipelineGeneration().current();
    doubleClick();
    EXPECT_TRUE(logged("✖ 已取消(丢弃进行中的转写/润色或待确认注入)"));
    EXPECT_TRUE(cancellation->isCancelled());
    EXPECT_FALSE(controller->pipelineGeneration().isCurrent(generation));
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_EQ(sound->played.back(), "Bottle");
}

TEST_F(Dictation, DoubleClickWithAJobStillInFlightTakesTheDiscardBranch) {
    launch();
    pressLong();
    release();
    controller->setAppState(AppState::idle);
    doubleClick();
    EXPECT_TRUE(logged("✖ 已取消(丢弃进行中的转写/润色或待确认注入)"));
}

TEST_F(Dictation, DoubleClickInPendingSendUndoesOnce) {
    launch();
    confirmPaste("hello");
    sound->played.clear();
    doubleClick();
    EXPECT_EQ(injector->undone, std::vector<std::string>{"hello"});
    EXPECT_FALSE(controller->pending().has_value());
    EXPECT_EQ(controller->appState(), AppState::idle);
    EXPECT_EQ(sound->played, std::vector<std::string>{"Bottle"});
}

TEST_F(Dictation, DoubleClickWithNothingToCancelOnlyLogs) {
    launch();
    const auto broadcasts = phone->broadcasts.size();
    const auto attempt = controller->injectionAttempt();
    doubleClick();
    EXPECT_TRUE(logged("✖ 双击(当前无可取消的任务)"));
    EXPECT_TRUE(sound->played.empty());
    EXPECT_EQ(phone->broadcasts.size(), broadcasts);
    EXPECT_EQ(controller->injectionAttempt(), attempt + 1);
}

TEST_F(Dictation, EveryAssignmentBroadcastsEvenTheSameState) {
    launch();
    controller->setAppState(AppState::idle);
    controller->setAppState(AppState::idle);
    EXPECT_EQ(phone->broadcasts, (std::vector<std::string>{"idle", "idle"}));
}

TEST_F(Dictation, HooksReachTheControllerAndDoNothingOnceItIsGone) {
    launch();
    whisper->ready = true;
    pressLong();
    release();
    finishRecording(makeRecordingFile(), 1.0);
    ASSERT_TRUE(runner->lastHooks.has_value());
    DictationHooks hooks = *runner->lastHooks;
    const auto generation = runner->jobs[0].generation;

    EXPECT_TRUE(hooks.isLocalSTTReady());
    EXPECT_FALSE(hooks.isLocalPolishReady());
    hooks.localSTTRequestFailed();
    ASSERT_EQ(whisper->recoveries.size(), 1U);
    const auto maintainedBefore = whisper->maintained.size();
    whisper->recoveries[0]();
    EXPECT_EQ(whisper->maintained.size(), maintainedBefore + 1);

    hooks.inject("text");
    EXPECT_EQ(injector->injected, std::vector<std::string>{"text"});
    EXPECT_FALSE(injector->lastHost.expired());
    hooks.setIdleIfCurrent(generation);
    EXPECT_EQ(controller->appState(), AppState::idle);

    controller.reset();
    EXPECT_FALSE(hooks.isCurrent(generation));
    EXPECT_FALSE(hooks.isLocalSTTReady());
    hooks.inject("late");
    hooks.warnNotConfigured();
    EXPECT_EQ(injector->injected.size(), 1U);
    EXPECT_TRUE(shell->alerts.empty());
}

TEST_F(Dictation, StaleIdleHookLeavesANewerRecordingAlone) {
    launch();
    pressLong();
    release();
    finishRecording(makeRecordingFile(), 1.0);
    DictationHooks hooks = *runner->lastHooks;
    const auto generation = runner->jobs[0].generation;
    pressLong();
    hooks.setIdleIfCurrent(generation);
    EXPECT_EQ(controller->appState(), AppState::recording);
}

TEST_F(Dictation, CompletionAfterTheControllerIsGoneStillRemovesTheAudio) {
    launch();
    pressLong();
    release();
    controller.reset();
    const auto file = makeRecordingFile();
    finishRecording(file, 1.0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(runner->jobs.empty());
}

}  // namespace
}  // namespace vurin::testing
