#include "audio/recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <thread>

#include "audio/recording_files.h"
#include "support/fake_audio_capture.h"
#include "support/testing.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const AudioSourceInfo kLaptop{
    .name = "laptop", .formFactor = "internal", .sampleRate = 44100, .channels = 2};
const AudioSourceInfo kUsb{.name = "usb", .sampleRate = 48000, .channels = 1};
const AudioSourceList kUsbOnly{.sources = {kUsb}, .defaultSourceName = "usb"};

// What a stop handed to its completion, and on which thread.
struct Stopped {
    std::optional<fs::path> file;
    double duration = -1;
    std::thread::id thread;
};

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        environment_.set("TMPDIR", folder_.string());  // only this test's recordings
        capture_->setSources({.sources = {kLaptop, kUsb}, .defaultSourceName = "usb"});
    }
    void TearDown() override {
        if (recorder_) {
            recorder_->waitForBackgroundTasks();
        }
    }

    // Half a second of a loud 440 Hz tone at 48 kHz through stream `index`.
    void speak(std::size_t index) {
        std::vector<float> samples(24000);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * i / 48000));
        }
        capture_->streams.at(index)->deliver(samples, samples.size());
    }

    // Stops; the completion runs `inCompletion` first.
    std::future<Stopped> stopLater(const std::function<void()>& inCompletion = [] {}) {
        auto promise = std::make_shared<std::promise<Stopped>>();
        recorder_->stop([=](std::optional<fs::path> file, double duration) {
            inCompletion();
            promise->set_value({std::move(file), duration, std::this_thread::get_id()});
        });
        return promise->get_future();
    }
    // Bounded: a stop that never completes fails the test instead of hanging it.
    static std::optional<Stopped> wait(std::future<Stopped> stopping) {
        if (stopping.wait_for(10s) != std::future_status::ready) {
            return std::nullopt;
        }
        return stopping.get();
    }
    std::optional<Stopped> stop(const std::function<void()>& inCompletion = [] {}) {
        return wait(stopLater(inCompletion));
    }

    std::vector<fs::path> files() const {
        return {fs::directory_iterator(folder_), fs::directory_iterator()};
    }

    fs::path folder_ =
        test::freshTestFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    testing::ScopedEnvironment environment_;
    testing::LogCapture log_;
    std::shared_ptr<test::FakeAudioCapture> capture_ = std::make_shared<test::FakeAudioCapture>();
    std::shared_ptr<Recorder> recorder_ = Recorder::create(capture_, {.finishTimeout = 3000ms});
};

TEST_F(RecorderTest, NothingRecordedGivesNoFileAndNoLeftovers) {
    auto stopped = stop();  // without a recording: at once, on the caller's thread
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->file, std::nullopt);
    EXPECT_EQ(stopped->duration, 0.0);
    EXPECT_EQ(stopped->thread, std::this_thread::get_id());
    EXPECT_EQ(capture_->listCalls(), 0);
    EXPECT_TRUE(capture_->opens.empty());

    ASSERT_TRUE(recorder_->start(false));  // a capture that delivered nothing
    stopped = stop();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->file, std::nullopt);
    EXPECT_EQ(stopped->duration, 0.0);
    EXPECT_TRUE(files().empty());
}

TEST_F(RecorderTest, RecordsTheDefaultSourceNativelyAndHandsOverA16kFileEachTime) {
    std::vector<fs::path> handed;
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(recorder_->start(false));
        EXPECT_TRUE(recorder_->isRecording());
        speak(i);
        const auto capturing = files();
        ASSERT_EQ(capturing.size(), i + 1);  // the earlier recording's file stays
        const auto stopped = stop();
        EXPECT_FALSE(recorder_->isRecording());
        ASSERT_TRUE(stopped && stopped->file);
        EXPECT_NE(stopped->thread, std::this_thread::get_id());
        EXPECT_NEAR(stopped->duration, 0.5, 0.01);
        EXPECT_NE(std::find(capturing.begin(), capturing.end(), captureFileURL(*stopped->file)),
                  capturing.end());
        EXPECT_FALSE(fs::exists(captureFileURL(*stopped->file)));
        const auto wav = test::readWav(*stopped->file);
        ASSERT_TRUE(wav);
        EXPECT_EQ(std::tie(wav->sampleRate, wav->channels), std::make_tuple(16000, 1));
        EXPECT_TRUE(capture_->streams[i]->closed);
        handed.push_back(*stopped->file);
    }
    EXPECT_NE(handed[0], handed[1]);
    EXPECT_TRUE(fs::exists(handed[0]));
    const auto& opened = capture_->opens.at(1);
    EXPECT_EQ(std::tie(opened.sourceName, opened.format.sampleRate, opened.format.channels),
              std::make_tuple("usb", 48000, 1));
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(RecorderTest, WarmUpChoosesTheSourceOnceAndAChangedRequestChoosesAgain) {
    recorder_->warmUp(true);
    recorder_->waitForBackgroundTasks();
    EXPECT_EQ(capture_->listCalls(), 1);
    EXPECT_TRUE(capture_->opens.empty()) << "warm-up must not open the microphone";
    ASSERT_TRUE(recorder_->start(true));
    EXPECT_EQ(capture_->listCalls(), 1);
    const auto& opened = capture_->opens.back();
    EXPECT_EQ(std::tie(opened.sourceName, opened.format.sampleRate, opened.format.channels),
              std::make_tuple("laptop", 44100, 2));
    recorder_->warmUp(false);  // while recording: changes nothing
    recorder_->waitForBackgroundTasks();
    EXPECT_EQ(capture_->listCalls(), 1);
    EXPECT_TRUE(recorder_->isRecording());
    ASSERT_TRUE(stop());
    ASSERT_TRUE(recorder_->start(false));
    EXPECT_EQ(capture_->listCalls(), 2);
    EXPECT_EQ(capture_->opens.back().sourceName, "usb");
}

TEST_F(RecorderTest, MissingBuiltInFallsBackToTheDefaultOnceAndKeepsTheSession) {
    capture_->setSources({.status = AudioServerStatus::unavailable});
    recorder_->warmUp(true);
    recorder_->waitForBackgroundTasks();
    EXPECT_TRUE(log_.lines().empty()) << "no complaint before the user asks";
    capture_->setSources(kUsbOnly);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(recorder_->start(true));
        EXPECT_EQ(capture_->opens.back().sourceName, "usb");
        ASSERT_TRUE(stop());
    }
    EXPECT_EQ(capture_->listCalls(), 2);
    EXPECT_EQ(log_.lines(), Lines{"⚠️ 找不到内置麦克风,改用系统默认输入"});
}

TEST_F(RecorderTest, StartFailuresLogTheirLineLeaveIdleAndAreNotRemembered) {
    struct Case {
        const char* name;
        AudioSourceList list;
        std::optional<std::string> openError;
        const char* folder;
        std::string line;  // a prefix where the rest is the system's error text
        int lists;         // source lists for the two attempts
    };
    // A source that cannot be opened may be gone for good (a headset unplugged): choose again.
    // clang-format off
    const Case cases[] = {
        {"no sound server", {.status = AudioServerStatus::unavailable}, {}, "", "❌ 找不到可用的录音设备", 2},
        {"no sources", {}, {}, "", "❌ 找不到可用的录音设备", 2},
        {"no default source", {.sources = {kUsb}}, {}, "", "❌ 找不到可用的录音设备", 2},
        {"unusable format", {.sources = {{.name = "odd", .channels = 1}}, .defaultSourceName = "odd"}, {}, "", "❌ 无法配置录音会话", 2},
        {"microphone cannot be opened", kUsbOnly, "No such entity", "", "❌ 打开麦克风失败:No such entity", 2},
        {"capture folder not writable", kUsbOnly, {}, "missing", "❌ 无法创建录音文件:", 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        capture_ = std::make_shared<test::FakeAudioCapture>();
        capture_->setSources(c.list);
        capture_->openError = c.openError;
        recorder_ = Recorder::create(capture_);
        environment_.set("TMPDIR", (folder_ / c.folder).string());
        log_.clear();
        EXPECT_FALSE(recorder_->start(false));
        EXPECT_FALSE(recorder_->start(false));
        EXPECT_FALSE(recorder_->isRecording());
        EXPECT_EQ(capture_->listCalls(), c.lists);
        EXPECT_EQ(log_.lines().size(), 2u);
        EXPECT_EQ(log_.countContaining(c.line), 2u);
        EXPECT_TRUE(files().empty());
    }
}

TEST_F(RecorderTest, TheCaptureEndsLateWithAnErrorOrNeverAndTheAudioIsStillConverted) {
    struct Case {
        const char* name;
        bool ends;
        std::string error;
        Lines log;
    };
    const Case cases[] = {
        {"ends with an error",
         true,
         "Connection terminated",
         {"⚠️ 录音结束时报错:Connection terminated"}},
        {"never ends: converted after the bound", false, "", {"⚠️ 录音文件落盘超时"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_.clear();
        capture_->streams.clear();
        recorder_ = Recorder::create(capture_, {.finishTimeout = 50ms});
        ASSERT_TRUE(recorder_->start(false));
        capture_->streams[0]->endOnRequestStop = c.ends;
        capture_->streams[0]->errorAtEnd = c.error;
        speak(0);
        const auto stopped = stop();
        ASSERT_TRUE(stopped && stopped->file);
        EXPECT_NEAR(stopped->duration, 0.5, 0.01);
        EXPECT_TRUE(capture_->streams[0]->stopRequested);
        EXPECT_TRUE(capture_->streams[0]->closed);
        EXPECT_EQ(log_.lines(), c.log);
        speak(0);  // late frames after the bound go nowhere
    }
}

TEST_F(RecorderTest, NoLockIsHeldWhileStoppingTheCaptureOrCompleting) {
    // Asked from another thread, so a held lock shows as a time-out instead of a self-deadlock.
    auto free = [this] {
        return std::async(std::launch::async, [this] {
                   return recorder_->isRecording();
               }).wait_for(5s) == std::future_status::ready;
    };
    ASSERT_TRUE(recorder_->start(false));
    bool freeDuringStopRequest = false;
    bool freeDuringCompletion = false;
    capture_->streams[0]->onRequestStop = [&] { freeDuringStopRequest = free(); };
    ASSERT_TRUE(stop([&] { freeDuringCompletion = free(); }));
    EXPECT_TRUE(freeDuringStopRequest);
    EXPECT_TRUE(freeDuringCompletion);
}

TEST_F(RecorderTest, ANewRecordingStartedWhileTheLastOneFinishesStopsNormally) {
    ASSERT_TRUE(recorder_->start(false));
    capture_->streams[0]->endOnRequestStop = false;
    speak(0);
    auto first = stopLater();
    ASSERT_TRUE(recorder_->start(false));  // the first stop is still waiting for its file
    capture_->streams[1]->endOnRequestStop = false;
    speak(1);
    capture_->streams[0]->end();
    const auto firstStopped = wait(std::move(first));
    EXPECT_TRUE(recorder_->isRecording());
    auto second = stopLater();
    capture_->streams[1]->end();
    const auto secondStopped = wait(std::move(second));
    ASSERT_TRUE(firstStopped && firstStopped->file && secondStopped && secondStopped->file);
    EXPECT_NE(*firstStopped->file, *secondStopped->file);
    EXPECT_FALSE(recorder_->isRecording());
}

TEST_F(RecorderTest, DroppingTheRecorderDuringAStopStillCompletes) {
    ASSERT_TRUE(recorder_->start(false));
    speak(0);
    auto stopping = stopLater();
    recorder_.reset();  // waits for the stop's task
    const auto stopped = wait(std::move(stopping));
    ASSERT_TRUE(stopped && stopped->file);
}

}  // namespace
}  // namespace vurin
