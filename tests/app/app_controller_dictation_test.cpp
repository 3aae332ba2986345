#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "support/app_controller_fixture.h"
#include "support/testing.h"

namespace vurin::testing {
namespace {

using Lines = std::vector<std::string>;

// Steps: P long press, R release, T a toggle from a press-only shortcut (Tf stamped far in the
// future, Tl before the last one handled), TS and TX its send and cancel, F<s> a recording of <s>
// seconds ends, N one ends without audio (L: as its microphone failed to open, logged already), O
// the running one's fails to open, C a paste is confirmed, S single click, D double click, X the
// phone's double click, K the job is cancelled, I the state is set to idle, +<s> time passes;
// checks =<i|r|t|p> the state, #<n> jobs in flight, c the last release's cancellation is cancelled,
// a it is the active one, none no text pending; set-ups peak<dBFS>, failingRecorder,
// clickToSendOff, keystrokeFails. Effects: the lines logged after the launch's, then ♪ each cue, a
// job run, >text sent, <text undone.
struct Row {
    const char *name, *script;
    std::string effects;
    friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

const std::string kRecording = "🔴 录音中…(松开结束,最长 60 秒) | ";
const std::string kDiscarded = "✖ 已取消(丢弃进行中的转写/润色或待确认注入) | ";
const std::string kTranscribing = "⏹ 录音结束(1.0s),转写中… | ";

class DictationTable : public AppControllerFixture, public ::testing::WithParamInterface<Row> {
  protected:
    DictationTable() {
        adjustServices = [this](AppServices& services) {
            services.ownWindowFocused = [this] { return ownWindowFocused; };
        };
    }
    bool ownWindowFocused = false;
    void play(const std::string& script) {
        const auto key = [&](bool down, double then) {
            down ? controller->engine()->keyDown() : controller->engine()->keyUp();
            queue->advance(then);
        };
        const auto clicks = [&](int count, double settle) {  // presses of 50 ms, 50 ms apart
            for (int press = 1; press <= count; ++press) {
                key(true, 0.05);
                key(false, press < count ? 0.05 : settle);
            }
        };
        const std::map<std::string, std::function<void()>> steps{
            {"P", [&] { key(true, 0.3); }},
            {"R",
             [&] {
                 key(false, 0);
                 cancellation = controller->activePipelineCancellation();
             }},
            {"N", [&] { finish(std::nullopt, 0.0); }},
            {"L", [&] { finish(std::nullopt, 0.0, true); }},
            {"O",
             [&] {
                 recorder->recording = false;
                 recorder->onOpenFailed();
                 queue->runPending();
             }},
            {"C", [&] { controller->injectionConfirmed({.text = "hello"}); }},
            {"S", [&] { clicks(1, 0.25); }},
            {"D", [&] { clicks(2, 0.0); }},
            {"X", [&] { controller->cancel(); }},
            {"T", [&] { command(TriggerCommand::toggle, 0); }},
            {"Tf", [&] { command(TriggerCommand::toggle, 1e6); }},
            {"Tl", [&] { command(TriggerCommand::toggle, -1.0); }},
            {"TS", [&] { command(TriggerCommand::send, 0); }},
            {"TX", [&] { command(TriggerCommand::cancel, 0); }},
            {"K", [&] { controller->activePipelineCancellation()->cancel(); }},
            {"I", [&] { controller->setAppState(AppState::idle); }},
            {"c", [&] { EXPECT_TRUE(cancellation->isCancelled()); }},
            {"a", [&] { EXPECT_EQ(controller->activePipelineCancellation(), cancellation); }},
            {"none", [&] { EXPECT_FALSE(controller->pending()); }},
            {"failingRecorder", [&] { recorder->startSucceeds = false; }},
            {"clickToSendOff", [&] { controller->config().sendOnClick = false; }},
            {"keystrokeFails", [&] { injector->sendOutcome = SendOutcome::keystrokeFailed; }},
        };
        std::istringstream words(script);
        for (std::string step; words >> step;) {
            const auto number = [&] { return std::stod(step.substr(step[0] == 'p' ? 4 : 1)); };
            if (steps.contains(step)) {
                steps.at(step)();
            } else if (step[0] == 'F') {
                files.push_back(std::filesystem::temp_directory_path() /
                                ("dictation-" + std::to_string(files.size()) + ".wav"));
                std::ofstream(files.back()) << "RIFF";
                finish(files.back(), number());
            } else if (step[0] == '+') {
                queue->advance(number());
            } else if (step[0] == '=') {
                EXPECT_EQ(controller->appState(), AppState(std::string("irtp").find(step[1])));
            } else if (step[0] == '#') {
                EXPECT_EQ(controller->inFlight(), number()) << step;
            } else {
                ASSERT_TRUE(step.starts_with("peak")) << step;
                recorder->peak = static_cast<float>(number());
            }
        }
    }
    void command(TriggerCommand what, double offset) {
        controller->triggerCommand(what, queue->now() + offset);
        queue->runPending();
    }
    // Delivers the recorder's completion and runs what it posted to the main queue.
    void finish(std::optional<std::filesystem::path> file, double duration, bool logged = false) {
        recorder->finish(std::move(file), duration, logged);
        queue->runPending();
    }

    std::vector<std::filesystem::path> files;
    std::shared_ptr<PipelineCancellation> cancellation;
};

TEST_P(DictationTable, Plays) {
    launch();
    logs.clear();
    play(GetParam().script);
    std::string effects;
    for (const auto& [prefix, list] : {std::pair{"", logs},
                                       {"♪", sound->played},
                                       {"", Lines(runner->jobs.size(), "job")},
                                       {">", injector->sent},
                                       {"<", injector->undone}}) {
        for (const auto& effect : list) {
            effects += (effects.empty() ? "" : " | ") + (prefix + effect);
        }
    }
    EXPECT_EQ(effects, GetParam().effects);
    for (const auto& file : files) {
        EXPECT_FALSE(std::filesystem::exists(file)) << "a recording was left behind";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dictation, DictationTable,
    ::testing::Values(

        Row{"TooShortUnder400ms", "P R F0.399 =i P R F0.4 =t",
            kRecording + "🗑 录音太短(399ms),忽略 | " + kRecording +
                "⏹ 录音结束(0.4s),转写中… | ♪Pop | ♪Pop | job"},
        Row{"SilentUnderMinus55dBFS", "peak-55 P R =t #1 F1.0 #0 =t peak-55.01 P R F1.0 =i",
            kRecording + kTranscribing + kRecording +
                "🔇 检测到静音(峰值 -55 dBFS),丢弃不转写(避免幻觉)。检查麦克风是否有声音。 | "
                "♪Pop | ♪Pop | ♪Bottle | job"},
        Row{"MissingAudioUnlessCancelledOrSaidAlready", "P R K N #0 =t P R N #0 =i P R L =i",
            kRecording + kRecording + "❌ 录音失败,没有可用音频 | " + kRecording +
                "♪Pop | ♪Pop | ♪Pop"},
        Row{"NewLongPressMakesTheOldJobStale", "P R P c R F1.0 #1 a =t",
            kRecording + kRecording + "♪Pop | ♪Pop"},
        Row{"SixtySecondLimit", "P +59.9 =r +0.1 =t R #1",
            kRecording + "⏱ 达到 60 秒上限,自动截断 | ♪Pop"},
        Row{"ClickSendsAndALongPressDropsThePendingText", "C =p S =i none S C P =r none",
            "⏎ 单击(无待发送内容,忽略) | " + kRecording + "♪Pop | >hello"},
        Row{"ClickKeepsPendingWhenTheKeystrokeFails", "keystrokeFails C S =p S", ">hello | >hello"},
        Row{"ClickToSendOffThenDoubleClickUndoes", "clickToSendOff C S =p D =i none",
            "⏎ 单击(单击发送已关闭,请手动回车) | ♪Bottle | <hello"},

        Row{"DoubleClickWithNothingToCancelThenThePhonesWhileRecording",
            "D =i P X =i F2.0 +61 #0 =i",
            "✖ 双击(当前无可取消的任务) | " + kRecording + "✖ 已取消录音 | ♪Pop | ♪Bottle"},
        Row{"DoubleClickWhileTranscribingOrWithAJobInFlight", "P R D c =i F1.0 P R I D =i",
            kRecording + kDiscarded + kRecording + kDiscarded + "♪Pop | ♪Bottle | ♪Pop | ♪Bottle"},
        Row{"RecorderFailureIsSilent", "failingRecorder P +61 =i", ""},
        Row{"MicrophoneThatFailsToOpenEndsTheRecording", "P O =i R #0 +61 =i P =r O =i",
            kRecording + kRecording + "♪Pop | ♪Pop"},

        // A shortcut that runs only on the press: one toggle starts, the next ends; a desktop
        // repeating a held shortcut, a command overtaken by a later one and a clock from the
        // future change nothing.
        Row{"ToggleStartsAndEndsWithinTheSixtySecondLimit", "T =r +1.0 T =t F1.0 +1.0 T =r +60 =t",
            kRecording + kTranscribing + kRecording +
                "⏱ 达到 60 秒上限,自动截断 | ♪Pop | ♪Pop | job"},
        Row{"ToggleRepeatsAndLateOrFutureTogglesAreDropped",
            "Tf =r +0.5 T =r +0.5 T =r +0.5 T =r +0.8 T =t Tl =t F2.3",
            kRecording +
                "ℹ️ "
                "按住快捷键时桌面重复运行的切换已忽略(松开后再按才算下一次) "
                "| " +
                "⚠️ vurin --trigger toggle 晚于之后的一次切换才到达,已忽略 | " +
                "⏹ 录音结束(2.3s),转写中… | ♪Pop | job"},
        Row{"ShortcutSendAndCancelAreTheClicks", "C TS =i C TX =i TX",
            "✖ 双击(当前无可取消的任务) | ♪Bottle | >hello | <hello"}),
    [](const auto& info) { return std::string(info.param.name); });

// Text whose target is one of Vurin's own windows (left in front) would land there: refused
// with one line and a cue, and Vurin is ready again.
TEST_F(DictationTable, TextForVurinsOwnWindowIsRefused) {
    launch();
    play("P R F1.0");
    ASSERT_TRUE(runner->lastHooks);
    logs.clear();
    sound->played.clear();
    ownWindowFocused = true;
    runner->lastHooks->inject("text");
    EXPECT_TRUE(injector->injected.empty());
    EXPECT_EQ(logs, Lines{"❌ 输入焦点在 Vurin 自己的窗口,已阻止粘贴;先点一下要输入文字的窗口"});
    EXPECT_EQ(sound->played, Lines{"Basso"});
    EXPECT_EQ(controller->appState(), AppState::idle);
    ownWindowFocused = false;
    play("P R F1.0");
    runner->lastHooks->inject("text");
    EXPECT_EQ(injector->injected, Lines{"text"});
}

// The job carries the recording and the settings as they were at the release; made stale while
// it runs, it keeps its file until run() returns. Its hooks reach the controller, and do nothing
// once the controller is gone, but for the questions it asks on its own thread.
TEST_F(DictationTable, TheJobAndItsHooks) {
    controller->config().micDevice = "system";
    launch();
    play("P");
    controller->config().sttProvider = "cloud";
    play("R");
    controller->config().sttProvider = "local";
    whisper->ready = true;
    runner->onRun = [&](const DictationJob& job, const DictationHooks& hooks) {
        EXPECT_EQ(job.cancellation, cancellation);
        EXPECT_LE(job.released.value(), std::chrono::steady_clock::now());
        EXPECT_EQ(job.snapshot.sttProvider(), "cloud");
        EXPECT_TRUE(hooks.isCurrent(job.generation) && hooks.isLocalSTTReady());
        EXPECT_FALSE(hooks.isLocalPolishReady());
        hooks.inject("text");
        controller->startRecording();
        EXPECT_FALSE(hooks.isCurrent(job.generation) || !job.cancellation->isCancelled());
        EXPECT_TRUE(std::filesystem::exists(job.audioURL));
        hooks.setIdleIfCurrent(job.generation);  // stale: the newer recording stays
    };
    play("F1.0 =r");
    EXPECT_FALSE(std::filesystem::exists(files.at(0)));
    EXPECT_EQ(std::count(settings->calls.begin(), settings->calls.end(), "latency"), 1)
        << "the ended job's time reaches an open latency chart";
    EXPECT_EQ(injector->injected, std::vector<std::string>{"text"});
    DictationHooks hooks = *runner->lastHooks;
    hooks.setIdleIfCurrent(controller->pipelineGeneration().current());
    EXPECT_EQ(controller->appState(), AppState::idle);
    hooks.localSTTRequestFailed();
    hooks.localPolishRequestFailed();
    queue->runPending();
    const auto maintained = whisper->maintained.size();
    whisper->recoveries.at(0)();
    EXPECT_EQ(whisper->maintained.size(), maintained + 1);

    play("P R");
    const auto generation = controller->pipelineGeneration().current();
    controller.reset();
    std::ofstream(files.at(0)) << "RIFF";
    recorder->finish(files.at(0), 1.0);  // nobody is left to process it: it goes
    EXPECT_FALSE(std::filesystem::exists(files.at(0)));
    // What a job asks on its thread never goes through the controller, which must not die there.
    EXPECT_TRUE(hooks.isCurrent(generation) && hooks.isLocalSTTReady());
    hooks.inject("late");
    hooks.warnNotConfigured();
    hooks.localSTTRequestFailed();
    queue->runPending();
    ollama->recoveries.at(0)();
    EXPECT_EQ(injector->injected.size() + shell->alerts.size() + whisper->recoveries.size(), 2U);
}

// Quitting while a job runs on the recorder's thread cancels the job and waits for it to end
// with its file; the job never owns the controller, which must die on the main thread. A
// recording still running is dropped with its file.
TEST_F(DictationTable, QuittingEndsTheRunningJobAndTheRecording) {
    launch();
    play("P R");
    std::atomic<bool> running = false;
    runner->onRun = [&](const DictationJob& job, const DictationHooks&) {
        running = true;
        EXPECT_TRUE(eventually([&] { return job.cancellation->isCancelled(); }));
    };
    const auto file = std::filesystem::temp_directory_path() / "dictation-at-exit.wav";
    std::ofstream(file) << "RIFF";
    recorder->finishInBackground(file, 1.0);
    ASSERT_TRUE(eventually([&] { return running.load(); }));
    EXPECT_EQ(controller.use_count(), 1);
    controller->applicationWillTerminate();
    EXPECT_FALSE(std::filesystem::exists(file));
    play("P");
    controller->applicationWillTerminate();
    ASSERT_FALSE(recorder->recording);
    play("F1.0");
    EXPECT_FALSE(std::filesystem::exists(files.at(0)) || runner->jobs.size() != 1);
}

}  // namespace
}  // namespace vurin::testing
