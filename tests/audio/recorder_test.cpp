#include "audio/recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/recording_files.h"
#include "support/fake_audio_capture.h"
#include "support/log.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FakeAudioCapture;
using test::FakeCaptureStream;

AudioSourceInfo source(std::string name, std::string formFactor, int rate, int channels) {
    AudioSourceInfo info;
    info.name = std::move(name);
    info.formFactor = std::move(formFactor);
    info.sampleRate = rate;
    info.channels = channels;
    return info;
}

// What a stop handed to its completion, and on which thread.
struct StopResult {
    std::optional<fs::path> file;
    double duration = -1;
    std::thread::id thread;
};

class StopProbe {
  public:
    AudioRecorder::StopCompletion completion() {
        return [this](std::optional<fs::path> file, double duration) {
            promise_.set_value({std::move(file), duration, std::this_thread::get_id()});
        };
    }
    // Bounded: a stop that never completes fails the test instead of hanging it.
    std::optional<StopResult> wait() {
        if (future_.wait_for(10s) != std::future_status::ready) {
            return std::nullopt;
        }
        return future_.get();
    }

  private:
    std::promise<StopResult> promise_;
    std::future<StopResult> future_ = promise_.get_future();
};

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Each test sees only its own recordings, also when the whole binary runs in one process.
        previousTmpdir_ = std::getenv("TMPDIR");
        folder_ = fs::path(previousTmpdir_) /
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        setenv("TMPDIR", folder_.c_str(), 1);
        setLogObserver([this](const std::string& line) {
            std::lock_guard guard(logMutex_);
            logs_.push_back(line);
        });
        AudioSourceList list;
        list.sources = {source("laptop", "internal", 44100, 2), source("usb", "", 48000, 1)};
        list.defaultSourceName = "usb";
        capture_->setSources(list);
    }
    void TearDown() override {
        if (recorder_) {
            recorder_->waitForBackgroundTasks();
        }
        setLogObserver({});
        setenv("TMPDIR", previousTmpdir_.c_str(), 1);
    }

    std::vector<std::string> logs() {
        std::lock_guard guard(logMutex_);
        return logs_;
    }

    // Half a second of a loud 440 Hz tone through stream `index`.
    void speak(std::size_t index, int rate = 48000, int channels = 1, double seconds = 0.5) {
        const auto frames = static_cast<std::size_t>(rate * seconds);
        std::vector<float> samples(frames * channels);
        for (std::size_t i = 0; i < frames; ++i) {
            for (int c = 0; c < channels; ++c) {
                samples[i * channels + c] =
                    static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * i / rate));
            }
        }
        FakeCaptureStream::deliver(*capture_->stream(index), samples, frames);
    }

    std::vector<fs::path> recordingFiles() {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(recordingDirectory())) {
            files.push_back(entry.path());
        }
        return files;
    }

    std::shared_ptr<FakeAudioCapture> capture_ = std::make_shared<FakeAudioCapture>();
    std::shared_ptr<Recorder> recorder_ = Recorder::create(capture_, {.finishTimeout = 3000ms});

  private:
    std::string previousTmpdir_;
    fs::path folder_;
    std::mutex logMutex_;
    std::vector<std::string> logs_;
};

TEST_F(RecorderTest, StopWithoutRecordingCompletesAtOnceOnTheCallersThread) {
    StopProbe probe;
    recorder_->stop(probe.completion());
    const auto result = probe.wait();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->file, std::nullopt);
    EXPECT_EQ(result->duration, 0.0);
    EXPECT_EQ(result->thread, std::this_thread::get_id());
    EXPECT_EQ(capture_->listCalls(), 0);
    EXPECT_TRUE(capture_->opens().empty());
    EXPECT_TRUE(logs().empty());
}

TEST_F(RecorderTest, RecordsTheDefaultSourceInItsNativeFormatAndHandsOverA16kFile) {
    ASSERT_TRUE(recorder_->start(false));
    EXPECT_TRUE(recorder_->isRecording());
    ASSERT_EQ(capture_->opens().size(), 1u);
    EXPECT_EQ(capture_->opens()[0].sourceName, "usb");
    EXPECT_EQ(capture_->opens()[0].format.sampleRate, 48000);
    EXPECT_EQ(capture_->opens()[0].format.channels, 1);

    speak(0);
    const auto raw = recordingFiles();
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_TRUE(raw[0].filename().string().ends_with(".raw.wav"));

    StopProbe probe;
    recorder_->stop(probe.completion());
    EXPECT_FALSE(recorder_->isRecording());
    const auto result = probe.wait();
    ASSERT_TRUE(result && result->file);
    EXPECT_NE(result->thread, std::this_thread::get_id());
    EXPECT_NEAR(result->duration, 0.5, 0.01);
    EXPECT_EQ(captureFileURL(*result->file), raw[0]);
    EXPECT_FALSE(fs::exists(raw[0]));
    const auto wav = test::readWav(*result->file);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->sampleRate, 16000);
    EXPECT_EQ(wav->channels, 1);
    EXPECT_TRUE(capture_->stream(0)->isClosed());
    EXPECT_TRUE(logs().empty());
}

TEST_F(RecorderTest, TwoRecordingsUseTwoNamesAndTheSecondLeavesTheFirstFileAlone) {
    std::vector<fs::path> files;
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(recorder_->start(false));
        speak(i);
        StopProbe probe;
        recorder_->stop(probe.completion());
        const auto result = probe.wait();
        ASSERT_TRUE(result && result->file);
        files.push_back(*result->file);
    }
    EXPECT_NE(files[0], files[1]);
    EXPECT_TRUE(fs::exists(files[0]));
    EXPECT_TRUE(fs::exists(files[1]));
}

TEST_F(RecorderTest, WarmUpChoosesTheSourceOnceAndAChangedRequestChoosesAgain) {
    recorder_->warmUp(true);
    recorder_->waitForBackgroundTasks();
    EXPECT_EQ(capture_->listCalls(), 1);
    EXPECT_TRUE(capture_->opens().empty()) << "warm-up must not open the microphone";

    ASSERT_TRUE(recorder_->start(true));
    EXPECT_EQ(capture_->listCalls(), 1);
    EXPECT_EQ(capture_->opens().back().sourceName, "laptop");
    EXPECT_EQ(capture_->opens().back().format.sampleRate, 44100);
    EXPECT_EQ(capture_->opens().back().format.channels, 2);
    StopProbe first;
    recorder_->stop(first.completion());
    ASSERT_TRUE(first.wait());

    ASSERT_TRUE(recorder_->start(false));
    EXPECT_EQ(capture_->listCalls(), 2);
    EXPECT_EQ(capture_->opens().back().sourceName, "usb");
    StopProbe second;
    recorder_->stop(second.completion());
    ASSERT_TRUE(second.wait());
}

TEST_F(RecorderTest, MissingBuiltInFallsBackToTheDefaultOnceAndKeepsTheSession) {
    AudioSourceList list;
    list.sources = {source("usb", "", 48000, 1)};
    list.defaultSourceName = "usb";
    capture_->setSources(list);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(recorder_->start(true));
        EXPECT_EQ(capture_->opens().back().sourceName, "usb");
        StopProbe probe;
        recorder_->stop(probe.completion());
        ASSERT_TRUE(probe.wait());
    }
    EXPECT_EQ(capture_->listCalls(), 1);
    EXPECT_EQ(logs(),
              std::vector<std::string>{"⚠️ 找不到内置麦克风,改用系统默认输入"});
}

TEST_F(RecorderTest, WarmUpWithoutASoundServerOrWhileRecordingDoesNothing) {
    AudioSourceList unreachable;
    unreachable.status = AudioServerStatus::unavailable;
    capture_->setSources(unreachable);
    recorder_->warmUp(false);
    recorder_->waitForBackgroundTasks();
    EXPECT_TRUE(logs().empty());

    AudioSourceList list;
    list.sources = {source("usb", "", 48000, 1)};
    list.defaultSourceName = "usb";
    capture_->setSources(list);
    ASSERT_TRUE(recorder_->start(false));
    const int calls = capture_->listCalls();
    recorder_->warmUp(true);
    recorder_->waitForBackgroundTasks();
    EXPECT_EQ(capture_->listCalls(), calls);
    EXPECT_EQ(capture_->opens().size(), 1u);
    EXPECT_TRUE(recorder_->isRecording());
    StopProbe probe;
    recorder_->stop(probe.completion());
    ASSERT_TRUE(probe.wait());
}

TEST_F(RecorderTest, StartFailuresLogTheirLineLeaveIdleAndRetryFromScratch) {
    struct Case {
        const char* what;
        AudioSourceList list;
        std::string line;
    };
    AudioSourceList unreachable;
    unreachable.status = AudioServerStatus::unavailable;
    AudioSourceList noDefault;
    noDefault.sources = {source("usb", "", 48000, 1)};
    AudioSourceList badFormat;
    badFormat.sources = {source("odd", "", 0, 1)};
    badFormat.defaultSourceName = "odd";
    const std::vector<Case> cases = {
        {"no sound server", unreachable, "❌ 找不到可用的录音设备"},
        {"no sources", AudioSourceList{}, "❌ 找不到可用的录音设备"},
        {"no default source", noDefault, "❌ 找不到可用的录音设备"},
        {"unusable format", badFormat, "❌ 无法配置录音会话"},
    };
    for (const auto& c : cases) {
        capture_->setSources(c.list);
        const int calls = capture_->listCalls();
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_FALSE(recorder_->start(false)) << c.what;
            EXPECT_FALSE(recorder_->isRecording()) << c.what;
        }
        EXPECT_EQ(capture_->listCalls(), calls + 2) << c.what << ": a failure is not remembered";
        EXPECT_EQ(logs().back(), c.line) << c.what;
    }
    EXPECT_TRUE(capture_->opens().empty());
    EXPECT_TRUE(recordingFiles().empty());
}

TEST_F(RecorderTest, AMicrophoneThatCannotBeOpenedFailsTheStartAndIsChosenAgainNextTime) {
    capture_->setOpenError("No such entity");
    EXPECT_FALSE(recorder_->start(false));
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_EQ(logs(), std::vector<std::string>{"❌ 打开麦克风失败:No such entity"});
    EXPECT_TRUE(recordingFiles().empty());

    capture_->setOpenError(std::nullopt);
    ASSERT_TRUE(recorder_->start(false));
    EXPECT_EQ(capture_->listCalls(), 2);
    StopProbe probe;
    recorder_->stop(probe.completion());
    ASSERT_TRUE(probe.wait());
}

TEST_F(RecorderTest, AnUnwritableCaptureFolderFailsTheStart) {
    const std::string previous = std::getenv("TMPDIR");
    setenv("TMPDIR", (fs::path(previous) / "missing" / "folder").c_str(), 1);
    const bool started = recorder_->start(false);
    setenv("TMPDIR", previous.c_str(), 1);
    EXPECT_FALSE(started);
    EXPECT_FALSE(recorder_->isRecording());
    ASSERT_EQ(logs().size(), 1u);
    EXPECT_TRUE(logs()[0].starts_with("❌ 无法创建录音文件:")) << logs()[0];
    EXPECT_TRUE(capture_->opens().empty());
}

TEST_F(RecorderTest, ACaptureThatNeverFinishesIsConvertedAfterTheBound) {
    recorder_ = Recorder::create(capture_, {.finishTimeout = 50ms});
    capture_->setEndOnRequestStop(false);
    ASSERT_TRUE(recorder_->start(false));
    speak(0);
    StopProbe probe;
    recorder_->stop(probe.completion());
    const auto result = probe.wait();
    ASSERT_TRUE(result && result->file);
    EXPECT_NEAR(result->duration, 0.5, 0.01);
    EXPECT_TRUE(capture_->stream(0)->wasStopRequested());
    EXPECT_TRUE(capture_->stream(0)->isClosed());
    EXPECT_EQ(logs(), std::vector<std::string>{"⚠️ 录音文件落盘超时"});
    // Late frames after the bound go nowhere.
    speak(0);
}

TEST_F(RecorderTest, TheDefaultBoundIsThreeSeconds) {
    EXPECT_EQ(RecorderOptions{}.finishTimeout, 3000ms);
}

TEST_F(RecorderTest, AnErrorAtTheEndIsLoggedAndTheAudioStillConverted) {
    capture_->setErrorAtEnd("Connection terminated");
    ASSERT_TRUE(recorder_->start(false));
    speak(0);
    StopProbe probe;
    recorder_->stop(probe.completion());
    const auto result = probe.wait();
    ASSERT_TRUE(result && result->file);
    EXPECT_GT(result->duration, 0.4);
    EXPECT_EQ(logs(),
              std::vector<std::string>{"⚠️ 录音结束时报错:Connection terminated"});
}

TEST_F(RecorderTest, AnEmptyCaptureGivesNoFileAndNoLeftovers) {
    ASSERT_TRUE(recorder_->start(false));
    StopProbe probe;
    recorder_->stop(probe.completion());
    const auto result = probe.wait();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->file, std::nullopt);
    EXPECT_EQ(result->duration, 0.0);
    EXPECT_TRUE(recordingFiles().empty());
}

TEST_F(RecorderTest, NoLockIsHeldWhileStoppingTheCaptureOrCompleting) {
    // Asked from another thread, so a held lock shows as a time-out instead of a self-deadlock.
    auto askedElsewhere = [this] {
        return std::async(std::launch::async, [this] {
                   return recorder_->isRecording();
               }).wait_for(5s) == std::future_status::ready;
    };
    ASSERT_TRUE(recorder_->start(false));
    bool freeDuringStopRequest = false;
    {
        auto state = capture_->stream(0);
        std::lock_guard guard(state->mutex);
        state->onRequestStop = [&] { freeDuringStopRequest = askedElsewhere(); };
    }
    bool freeDuringCompletion = false;
    std::promise<void> done;
    recorder_->stop([&](std::optional<fs::path>, double) {
        freeDuringCompletion = askedElsewhere();
        done.set_value();
    });
    ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(freeDuringStopRequest);
    EXPECT_TRUE(freeDuringCompletion);
}

TEST_F(RecorderTest, ANewRecordingStartedWhileTheLastOneFinishesStopsNormally) {
    capture_->setEndOnRequestStop(false);
    ASSERT_TRUE(recorder_->start(false));
    speak(0);
    StopProbe first;
    recorder_->stop(first.completion());

    ASSERT_TRUE(recorder_->start(false));  // the first stop is still waiting for its file
    speak(1);
    FakeCaptureStream::end(*capture_->stream(0));
    const auto firstResult = first.wait();
    ASSERT_TRUE(firstResult && firstResult->file);

    EXPECT_TRUE(recorder_->isRecording());
    StopProbe second;
    recorder_->stop(second.completion());
    FakeCaptureStream::end(*capture_->stream(1));
    const auto secondResult = second.wait();
    ASSERT_TRUE(secondResult && secondResult->file);
    EXPECT_NE(*firstResult->file, *secondResult->file);
    EXPECT_FALSE(recorder_->isRecording());
}

TEST_F(RecorderTest, DroppingTheRecorderDuringAStopStillCompletes) {
    ASSERT_TRUE(recorder_->start(false));
    speak(0);
    StopProbe probe;
    recorder_->stop(probe.completion());
    recorder_.reset();  // waits for the stop's task
    const auto result = probe.wait();
    ASSERT_TRUE(result && result->file);
}

}  // namespace
}  // namespace vurin
