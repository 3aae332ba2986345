#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <future>
#include <limits>
#include <set>
#include <thread>

#include "audio/audio_convert.h"
#include "audio/capture_source_choice.h"
#include "audio/peak_level.h"
#include "audio/recorder.h"
#include "audio/recording_files.h"
#include "support/fake_audio_capture.h"
#include "support/testing.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using test::sine;
using test::writeSignal;
using Lines = std::vector<std::string>;
using Names = std::set<std::string>;

constexpr int kPcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

const test::Signal silence = [](std::int64_t, int) { return 0.0; };

class AudioFolderTest : public ::testing::Test {
  protected:
    void SetUp() override { environment_.set("TMPDIR", folder_.string()); }
    fs::path file(const std::string& name) const { return folder_ / name; }
    Names files() const {
        Names names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.insert(entry.path().filename());
        }
        return names;
    }

    fs::path folder_ = test::freshTestFolder("audio");
    testing::ScopedEnvironment environment_;
    testing::LogCapture log_;
};

using AudioConvertTest = AudioFolderTest;

TEST_F(AudioConvertTest, CapturesBecomeMono16kOfTheSameLengthAndLevel) {
    struct Case {
        const char* name;
        int rate, channels, format;
        test::Signal signal;
        double dbfs = -6.02;
        double seconds = 1.0;
        std::function<void(std::fstream&)> damage = nullptr;
    };
    // clang-format off
    const Case cases[] = {
        {"44.1k stereo, channels averaged", 44100, 2, kPcm16, [](std::int64_t i, int c) { return c == 0 ? sine(1000, 44100)(i, c) : 0.0; }, -12.04},
        {"8k up-sampled", 8000, 1, kPcm16, sine(1000, 8000)},
        // An undrained resampler loses the end of the recording.
        {"sound only in the last 60 ms", 48000, 1, kFloat, [](std::int64_t i, int c) { return i < 48000 - 2880 ? 0.0 : sine(1000, 48000)(i, c); }},
        // Without dither digital silence stays exactly zero, and so do NaN and infinities.
        {"digital silence", 48000, 1, kPcm16, silence, -120},
        {"non-finite samples", 48000, 1, kFloat, [](std::int64_t i, int) { return i % 2 ? NAN : -HUGE_VAL; }, -120},
        // The header promises a second; the file holds half of it and half of one more sample.
        {"truncated capture", 48000, 1, kPcm16, sine(1000, 48000), -6.02, 0.5},
        // libsndfile fixes these sizes only on close: a capture never closed looks like this.
        {"header never finished", 48000, 1, kPcm16, sine(1000, 48000), -6.02, 1.0, [](std::fstream& f) { f.seekp(4).write("\x08\0\0\0", 4).seekp(40).write("\0\0\0\0", 4); }},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeSignal(file("in.wav"), c.rate, c.channels, c.format, c.rate, c.signal));
        if (c.damage) {
            std::fstream patch(file("in.wav"), std::ios::in | std::ios::out | std::ios::binary);
            c.damage(patch);
        }
        if (c.seconds < 1.0) {
            fs::resize_file(file("in.wav"), 44 + 48000 + 1);
        }
        const double seconds = downsampleTo16k(file("in.wav"), file("out.wav"));
        const auto out = test::readWav(file("out.wav")).value_or(test::DecodedWav{});
        EXPECT_EQ(std::tie(out.sampleRate, out.channels, out.format), std::tuple(16000, 1, kPcm16));
        EXPECT_DOUBLE_EQ(seconds, static_cast<double>(out.samples.size()) / 16000.0);
        EXPECT_NEAR(seconds, c.seconds, 0.0002);
        EXPECT_NEAR(dBFSOfPeak(test::peakSample(out.samples)), c.dbfs, 0.15);
    }
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(AudioConvertTest, FailuresLogTheirLineAndLeaveNoDestination) {
    ASSERT_TRUE(writeSignal(file("header-only.wav"), 48000, 2, kFloat, 0, silence));
    ASSERT_TRUE(writeSignal(file("11k.wav"), 11025, 1, kPcm16, 100, silence));
    test::writeBytes(file("out.wav"), "stale");  // an earlier attempt's file must not survive
    const std::tuple<const char*, fs::path, Lines> cases[] = {
        {"header-only.wav", file("out.wav"), {}},
        {"missing.wav", file("out.wav"), {"❌ 读不到录音文件"}},
        {"11k.wav", file("no-such-folder/out.wav"), {"❌ 无法建立 11025Hz → 16000Hz 转换"}},
    };
    for (const auto& [source, out, lines] : cases) {
        log_.clear();
        EXPECT_EQ(downsampleTo16k(file(source), out), 0.0) << source;
        EXPECT_EQ(log_.lines(), lines);
        EXPECT_FALSE(fs::exists(out)) << source;
    }
    // Past the file size limit writes fail (EFBIG, SIGXFSZ ignored): only what was written counts.
    ASSERT_TRUE(writeSignal(file("in.wav"), 48000, 1, kPcm16, 48000, sine(440, 48000)));
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    rlimit limited = unlimited;
    limited.rlim_cur = 44 + 2 * 5000;  // room for 5000 of the 16000 samples
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const double seconds = downsampleTo16k(file("in.wav"), file("out.wav"));
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(test::readWav(file("out.wav")).value_or(test::DecodedWav{}).samples.size(), 5000u);
    EXPECT_DOUBLE_EQ(seconds, 5000 / 16000.0);
}

// The level of the loudest sample (0 to 32768) in dBFS, as the silence check reads it.
TEST(PeakLevelTest, LoudestSampleInDBFS) {
    // The dictation flow discards recordings below -55 dBFS: 58 lies below, 59 above.
    const std::pair<int, float> cases[] = {{32768, 0.0f},   {328, -39.9915f},  {58, -55.0404f},
                                           {59, -54.8920f}, {9000, -11.2241f}, {1, -90.3090f},
                                           {0, -120.0f}};
    for (const auto& [peak, dbfs] : cases) {
        EXPECT_NEAR(dBFSOfPeak(peak), dbfs, 0.0001f) << peak;
    }
}

AudioSourceInfo source(const std::string& name, const std::string& formFactor,
                       const std::string& bus, const std::string& api = "alsa", int channels = 2) {
    return {name, "", name.ends_with(".monitor"), formFactor, bus, api, 48000, channels};
}

// Built-in: the first internal or PCI input in server order; otherwise, or if asked, the default.
TEST(CaptureSourceChoiceTest, Choices) {
    const auto usb = source("usb", "", "usb");
    const auto pci = source("mic", "", "pci");
    const auto dead = source("dead", "internal", "pci", "alsa", 0);
    // The list, its default, whether the built-in one is asked for, the choice, builtInMissing.
    // clang-format off
    const std::tuple<std::vector<AudioSourceInfo>, std::string, bool, std::string, bool> cases[] = {
        {{usb, source("laptop", "internal", "")}, "usb", true, "laptop", false},
        {{source("cam", "webcam", "usb"), pci, source("second", "internal", "pci")}, "cam", true, "mic", false},
        // Monitors, Bluetooth (which may claim any form factor) and sources without channels.
        {{source("spk.monitor", "internal", "pci"), source("bt", "internal", "bluetooth"),
          source("bt2", "internal", "", "bluez5"), dead, pci}, "", true, "mic", false},
        // The user made the headset the default input; only the built-in request avoids it.
        {{source("bt", "headset", "bluetooth", "bluez5"), usb}, "bt", true, "bt", true},
        {{usb}, "", false, "", false}, {{usb}, "gone", false, "", false}, {{dead}, "dead", false, "", false},
        // A monitor records the speakers, even when the server makes it the default input.
        {{source("spk.monitor", "", "")}, "spk.monitor", false, "", false},
        {{source("spk.monitor", "", ""), usb}, "spk.monitor", true, "", true},
    };
    // clang-format on
    for (const auto& [list, defaultName, builtIn, expected, missing] : cases) {
        SCOPED_TRACE(expected + " of " + std::to_string(list.size()));
        const AudioSourceList sources{.sources = list, .defaultSourceName = defaultName};
        const auto choice = chooseCaptureSource(sources, builtIn);
        EXPECT_EQ(choice.source ? choice.source->name : "", expected);
        EXPECT_EQ(choice.builtInMissing, missing);
    }
}

using RecordingFilesTest = AudioFolderTest;

TEST_F(RecordingFilesTest, WithoutATemporaryFolderRecordingsGoToTmp) {
    environment_.unset("TMPDIR");
    EXPECT_EQ(recordingDirectory(), fs::path("/tmp"));
    environment_.set("TMPDIR", "");
    EXPECT_EQ(recordingDirectory(), fs::path("/tmp"));
}

TEST_F(RecordingFilesTest, CleanupRemovesOnlyStaleRecordingFiles) {
    fs::create_directories(file("vurin-DIR.wav"));  // a folder is never emptied
    fs::create_directories(file("sub"));
    // clang-format off
    const std::pair<const char*, std::chrono::seconds> made[] = {
        {"vurin-OLD.wav", 2h}, {"vurin-OLD.raw.wav", 2h}, {"vurin-.wav", 2h}, {"vurin-OLD.txt", 2h}, {"vurin-OLD.WAV", 2h},
        {"vurin-wav", 2h}, {"Vurin-OLD.wav", 2h}, {"sub/vurin-OLD.wav", 2h}, {"vurin-DIR.wav/precious", 2h},
        {"vurin-DIR.wav", 2h}, {"vurin-JUST-OVER.wav", 61min}, {"vurin-JUST-UNDER.wav", 59min}};
    // clang-format on
    for (const auto& [name, age] : made) {
        if (!fs::exists(file(name))) {
            test::writeBytes(file(name), "x");
        }
        fs::last_write_time(file(name), fs::file_time_type::clock::now() - age);
    }
    fs::create_symlink(file("gone"), file("vurin-DANGLING.wav"));  // no date: stale
    cleanupStaleRecordingFiles(std::numeric_limits<double>::infinity());
    cleanupStaleRecordingFiles(std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(files().contains("vurin-OLD.wav"));
    cleanupStaleRecordingFiles();
    EXPECT_EQ(files(), (Names{"vurin-JUST-UNDER.wav", "vurin-OLD.txt", "vurin-OLD.WAV", "vurin-wav",
                              "Vurin-OLD.wav", "sub", "vurin-DIR.wav"}));
    EXPECT_TRUE(fs::exists(file("sub/vurin-OLD.wav")) &&
                fs::exists(file("vurin-DIR.wav/precious")));
    environment_.set("TMPDIR", file("does-not-exist"));
    cleanupStaleRecordingFiles();  // returns quietly
}

const AudioSourceInfo kLaptop{
    .name = "laptop", .formFactor = "internal", .sampleRate = 44100, .channels = 2};
const AudioSourceInfo kUsb{.name = "usb", .sampleRate = 48000, .channels = 1};

struct Stopped {
    std::optional<fs::path> file;
    double duration = -1;
    std::thread::id thread;
    bool failureLogged = false;
    float peakDBFS = 0;
};

class RecorderTest : public AudioFolderTest {
  protected:
    void SetUp() override {
        AudioFolderTest::SetUp();
        capture_->setSources({.sources = {kLaptop, kUsb}, .defaultSourceName = "usb"});
    }

    // Half a second at 48 kHz through the `index`-th stream, once it is open.
    void speak(std::size_t index) {
        const std::vector<float> samples(24000, 0.25f);
        capture_->stream(index)->handlers.onFrames(samples.data(), samples.size());
    }
    std::future<Stopped> stopLater(const std::function<void()>& inCompletion = [] {}) {
        auto promise = std::make_shared<std::promise<Stopped>>();
        recorder_->stop([=](RecordingResult result) {
            inCompletion();
            promise->set_value({std::move(result.file), result.seconds, std::this_thread::get_id(),
                                result.failureLogged, result.peakDBFS});
        });
        return promise->get_future();
    }
    // Bounded: a stop that never completes fails the test instead of hanging it.
    static Stopped wait(std::future<Stopped> stopping) {
        const bool done = stopping.wait_for(10s) == std::future_status::ready;
        EXPECT_TRUE(done) << "the stop never completed";
        return done ? stopping.get() : Stopped{};
    }
    Stopped stop(const std::function<void()>& inCompletion = [] {}) {
        return wait(stopLater(inCompletion));
    }

    std::shared_ptr<test::FakeAudioCapture> capture_ = std::make_shared<test::FakeAudioCapture>();
    std::shared_ptr<Recorder> recorder_ = Recorder::create(capture_);
};

TEST_F(RecorderTest, RecordsTheDefaultSourceNativelyAndHandsOverANew16kFileEachTime) {
    const Stopped nothing = stop();
    EXPECT_EQ(nothing.thread, std::this_thread::get_id());  // nothing recorded: at once
    EXPECT_EQ(nothing.peakDBFS, -120.0f);
    ASSERT_TRUE(recorder_->start(false));
    EXPECT_EQ(stop().file, std::nullopt) << "a capture that delivered nothing";
    Names handed;
    for (std::size_t i = 1; i < 3; ++i) {
        ASSERT_TRUE(recorder_->start(false) && recorder_->isRecording());
        speak(i);
        const auto stopped = stop();
        EXPECT_FALSE(recorder_->isRecording());
        ASSERT_TRUE(stopped.file);
        EXPECT_NE(stopped.thread, std::this_thread::get_id());
        EXPECT_NEAR(stopped.duration, 0.5, 0.01);
        // The level is measured as the file is written: the same as reading the file back.
        const auto written = test::readWav(*stopped.file).value_or(test::DecodedWav{});
        EXPECT_EQ(stopped.peakDBFS, dBFSOfPeak(test::peakSample(written.samples)));
        EXPECT_GT(stopped.peakDBFS, -13.0f);
        EXPECT_TRUE(capture_->streams[i]->closed);
        handed.insert(stopped.file->filename());
        EXPECT_EQ(files(), handed);  // the capture file is gone, the earlier recording stays
    }
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(RecorderTest, WarmUpChoosesOnceAChangedRequestChoosesAgainAndAMissingBuiltInIsSaidOnce) {
    // No microphone, the speakers' monitor the default: nothing to prepare, nothing to say yet.
    capture_->setSources(
        {.sources = {source("o.monitor", "", "")}, .defaultSourceName = "o.monitor"});
    recorder_->warmUp(true);
    recorder_->waitForBackgroundTasks();
    capture_->setSources({.sources = {kLaptop, kUsb}, .defaultSourceName = "usb"});
    recorder_->warmUp(true);
    recorder_->waitForBackgroundTasks();
    ASSERT_TRUE(recorder_->start(true));
    recorder_->warmUp(false);  // while recording: changes nothing
    recorder_->waitForBackgroundTasks();
    stop();
    capture_->setSources({.sources = {kUsb}, .defaultSourceName = "usb"});
    for (const bool builtIn : {true, false, true, true}) {
        ASSERT_TRUE(recorder_->start(builtIn));
        stop();
    }
    for (const char* input : {"laptop", "usb"}) {  // the default input follows the server's
        capture_->setSources({.sources = {kLaptop, kUsb}, .defaultSourceName = input});
        ASSERT_TRUE(recorder_->start(false));
        stop();
    }
    EXPECT_EQ(capture_->listCalls(), 6);
    EXPECT_EQ(capture_->opens,
              (Lines{"laptop 44100/2", "laptop 44100/2", "usb 48000/1", "usb 48000/1",
                     "usb 48000/1", "laptop 44100/2", "usb 48000/1"}));
    EXPECT_EQ(log_.lines(), Lines{"⚠️ 找不到内置麦克风,改用系统默认输入"});
}

// The capture opens in the background: a start is accepted, its failure is logged there and ends
// the recording, and the stop, before or after it, hands over nothing and says it was logged.
TEST_F(RecorderTest, OpenFailuresLogTheirLineGiveNoRecordingAndAreNotRemembered) {
    const AudioSourceList usbOnly{.sources = {kUsb}, .defaultSourceName = "usb"};
    // Sources, open error, capture folder, line (or its start).
    // clang-format off
    const std::tuple<AudioSourceList, std::optional<std::string>, const char*, std::string> cases[] = {
        {{.status = AudioServerStatus::unavailable}, {}, "", "❌ 找不到可用的录音设备"},
        {{.sources = {{.name = "odd", .channels = 1}}, .defaultSourceName = "odd"}, {}, "", "❌ 无法配置录音会话"},
        {usbOnly, "No such entity", "", "❌ 打开麦克风失败:No such entity"},
        {usbOnly, {}, "missing", "❌ 无法创建录音文件:"},
    };
    // clang-format on
    for (const auto& [list, openError, folder, line] : cases) {
        SCOPED_TRACE(line);
        capture_ = std::make_shared<test::FakeAudioCapture>();
        capture_->setSources(list);
        capture_->openError = openError;
        recorder_ = Recorder::create(capture_);
        std::atomic<int> failures = 0;
        recorder_->setOpenFailureHandler([&] { ++failures; });
        environment_.set("TMPDIR", file(folder));
        log_.clear();
        ASSERT_TRUE(recorder_->start(false));
        EXPECT_TRUE(
            testing::eventually([&] { return failures == 1 && !recorder_->isRecording(); }));
        const auto after = stop();
        std::promise<void> release;  // the key is released while the open still waits
        capture_->beforeEachCall = [released = release.get_future().share()] { released.wait(); };
        ASSERT_TRUE(recorder_->start(false));
        auto before = stopLater();
        release.set_value();
        const auto stopped = wait(std::move(before));
        EXPECT_TRUE(!after.file && after.failureLogged && !stopped.file && stopped.failureLogged);
        EXPECT_EQ(std::pair(log_.lines().size(), log_.countContaining(line)), std::pair(2ul, 2ul));
        EXPECT_TRUE(files().empty());
    }
}

TEST_F(RecorderTest, TheCaptureEndsLateWithAnErrorOrNeverAndTheAudioIsStillConverted) {
    std::size_t stream = 0;
    for (const std::string error : {"Connection terminated", ""}) {  // "": never ends
        log_.clear();
        recorder_ = Recorder::create(capture_, {.finishTimeout = 50ms});
        ASSERT_TRUE(recorder_->start(false));
        capture_->stream(stream)->endOnRequestStop = !error.empty();
        capture_->stream(stream)->errorAtEnd = error;
        speak(stream++);
        EXPECT_NEAR(stop().duration, 0.5, 0.01);
        EXPECT_TRUE(capture_->stream(stream - 1)->closed);
        EXPECT_EQ(log_.lines(), Lines{error.empty() ? "⚠️ 录音文件落盘超时"
                                                    : "⚠️ 录音结束时报错:" + error});
    }
}

TEST_F(RecorderTest, NoCallerWaitsForTheSoundServerNorForALockHeldAcrossACall) {
    // Asked from another thread, so a wait shows as a time-out instead of a self-deadlock.
    const auto promptly = [](const std::function<bool()>& ask) {
        auto asked = std::async(std::launch::async, ask);
        return asked.wait_for(5s) == std::future_status::ready && asked.get();
    };
    const auto free = [&] { return promptly([this] { return !recorder_->isRecording(); }); };
    // A stalled server: the warm-up's listing and the start's open wait until it wakes (at the
    // latest after 10 s, so a caller that waits for it fails the test instead of hanging it).
    std::promise<void> wake;
    capture_->beforeEachCall = [woken = wake.get_future().share()] { woken.wait_for(10s); };
    recorder_->warmUp(false);
    EXPECT_TRUE(promptly([this] { return recorder_->start(false) && recorder_->isRecording(); }));
    std::future<Stopped> stopped;
    EXPECT_TRUE(promptly([&] { return (stopped = stopLater()).valid(); }));
    wake.set_value();
    EXPECT_EQ(wait(std::move(stopped)).file, std::nullopt);
    ASSERT_TRUE(recorder_->start(false));
    bool freeDuringStopRequest = false;
    bool freeDuringCompletion = false;
    capture_->stream(1)->onRequestStop = [&] { freeDuringStopRequest = free(); };
    stop([&] { freeDuringCompletion = free(); });
    EXPECT_TRUE(freeDuringStopRequest && freeDuringCompletion);
}

TEST_F(RecorderTest, ANewRecordingWhileTheLastOneFinishesAndADroppedRecorderStillComplete) {
    ASSERT_TRUE(recorder_->start(false));
    capture_->stream(0)->endOnRequestStop = false;
    speak(0);
    auto first = stopLater();
    ASSERT_TRUE(recorder_->start(false));  // the first stop is still waiting for its file
    EXPECT_FALSE(recorder_->waitForBackgroundTasks(10ms));
    speak(1);
    capture_->stream(0)->handlers.onEnded("");
    const auto firstFile = wait(std::move(first)).file;
    EXPECT_TRUE(recorder_->waitForBackgroundTasks(10s));
    EXPECT_TRUE(recorder_->isRecording());
    auto second = stopLater();
    recorder_.reset();  // waits for the stop's task
    const auto secondFile = wait(std::move(second)).file;
    ASSERT_TRUE(firstFile && secondFile);
    recorder_ = Recorder::create(capture_);
    ASSERT_TRUE(recorder_->start(false));
    // Dropped while recording: no capture file is left, even when the last owner is the opening
    // task and the recorder ends on its thread.
    recorder_ = Recorder::create(capture_);
    const Names kept{firstFile->filename(), secondFile->filename()};
    EXPECT_TRUE(testing::eventually([&] { return files() == kept; })) << files().size();
}

}  // namespace
}  // namespace vurin
