// Records through the real sound server of the test session: "micfeed" is a null sink whose
// monitor is remapped as the default source "vmic", so playing into micfeed speaks into the mic.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_convert.h"
#include "audio/capture_source_choice.h"
#include "audio/peak_level.h"
#include "audio/recorder.h"
#include "audio/recording_files.h"
#include "platform/linux/audio_capture_pulse.h"
#include "support/audio_matching.h"
#include "support/log.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::bestAlignment;
using test::energy;
using test::monoSamples;
using test::speechEnd;

// A command's standard output; every command is bounded so a stuck server fails the test.
std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(("timeout 10 " + command).c_str(), "r")) {
        std::array<char, 256> chunk{};
        while (fgets(chunk.data(), chunk.size(), pipe) != nullptr) {
            output += chunk.data();
        }
        pclose(pipe);
    }
    return output;
}

struct Stopped {
    std::optional<fs::path> file;
    double duration = -1;
};

std::optional<Stopped> stopAndWait(Recorder& recorder) {
    auto promise = std::make_shared<std::promise<Stopped>>();
    auto future = promise->get_future();
    recorder.stop([promise](std::optional<fs::path> file, double duration) {
        promise->set_value({std::move(file), duration});
    });
    if (future.wait_for(15s) != std::future_status::ready) {
        return std::nullopt;
    }
    return future.get();
}

class RecorderAudioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setLogObserver([this](const std::string& line) {
            std::lock_guard guard(mutex_);
            logs_.push_back(line);
        });
    }
    void TearDown() override {
        for (const auto& module : modules_) {
            run("pactl unload-module " + module);
        }
        setLogObserver({});
    }

    void requireSession() {
        const auto list = capture_->listSources();
        ASSERT_EQ(list.status, AudioServerStatus::ok)
            << "run inside scripts/test-session: " << list.reason;
        ASSERT_EQ(list.defaultSourceName, "vmic") << "run inside scripts/test-session";
    }

    // A remapped micfeed monitor that claims to be another kind of device.
    void loadFakeSource(const std::string& name, const std::string& properties) {
        const std::string index =
            run("pactl load-module module-remap-source master=micfeed.monitor source_name=" + name +
                " \"source_properties='" + properties + "'\"");
        ASSERT_FALSE(index.empty()) << "could not load the fake source " << name;
        modules_.push_back(index.substr(0, index.find('\n')));
    }

    std::vector<std::string> logs() {
        std::lock_guard guard(mutex_);
        return logs_;
    }

    std::shared_ptr<PulseAudioCapture> capture_ = std::make_shared<PulseAudioCapture>();
    std::vector<std::string> modules_;

  private:
    std::mutex mutex_;
    std::vector<std::string> logs_;
};

TEST_F(RecorderAudioTest, AToneIntoTheMicrophoneComesBackAsA16kMonoFile) {
    requireSession();
    const fs::path tone = fs::path(std::getenv("TMPDIR")) / "tone-into-mic.wav";
    ASSERT_TRUE(test::writeTone(tone, {.sampleRate = 48000, .seconds = 1.0, .amplitude = 0.5}));
    auto recorder = Recorder::create(capture_);
    recorder->warmUp(false);
    recorder->waitForBackgroundTasks();

    ASSERT_TRUE(recorder->start(false));
    EXPECT_TRUE(recorder->isRecording());
    run("paplay -d micfeed " + tone.string());  // returns once the tone has been played
    const auto stopped = stopAndWait(*recorder);

    ASSERT_TRUE(stopped && stopped->file) << "no recording came back";
    EXPECT_GT(stopped->duration, 0.8);
    EXPECT_LT(stopped->duration, 2.0);
    const auto wav = test::readWav(*stopped->file);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->sampleRate, 16000);
    EXPECT_EQ(wav->channels, 1);
    EXPECT_GT(peakDBFS(*stopped->file), -55.0f);
    EXPECT_FALSE(fs::exists(captureFileURL(*stopped->file))) << "capture file left behind";
    fs::remove(*stopped->file);
    fs::remove(tone);
}

TEST_F(RecorderAudioTest, SpeechIntoTheMicrophoneComesBackWholeAndAligned) {
    requireSession();
    const fs::path folder = test::freshTestFolder("speech-into-mic");
    const fs::path clip = folder / "phrase.wav";
    const fs::path reference16k = folder / "phrase-16k.wav";
    run("espeak-ng -w " + clip.string() + " \"The quick brown fox jumps over the lazy dog.\"");
    ASSERT_TRUE(fs::exists(clip)) << "espeak-ng made no clip (scripts/install-deps installs it)";
    const double clipSeconds = downsampleTo16k(clip, reference16k);
    ASSERT_GT(clipSeconds, 1.0);
    const auto reference = monoSamples(reference16k);
    ASSERT_FALSE(reference.empty());

    auto recorder = Recorder::create(capture_);
    recorder->warmUp(false);
    recorder->waitForBackgroundTasks();
    ASSERT_TRUE(recorder->start(false));
    run("paplay -d micfeed " + clip.string());  // returns once the clip has been played
    // The monitor and the remapped source deliver a little behind the sink.
    std::this_thread::sleep_for(300ms);
    const auto stopped = stopAndWait(*recorder);

    ASSERT_TRUE(stopped && stopped->file) << "no recording came back";
    // Playback starts a process after start() returned: loose bounds on a loaded machine.
    EXPECT_GT(stopped->duration, clipSeconds - 0.1);
    EXPECT_LT(stopped->duration, clipSeconds + 4.0);
    const auto recorded = monoSamples(*stopped->file);
    ASSERT_FALSE(recorded.empty());

    // Zeros around the recording let the clip overhang either end; the envelopes give the
    // coarse lag (10 ms steps), then each 200 ms of speech is matched sample by sample nearby,
    // which absorbs playback start delay and the small drift of the server's resampling.
    constexpr std::size_t kPad = 4800;
    constexpr std::size_t kWindow = 3200;
    constexpr std::size_t kNear = 400;
    std::vector<double> padded(kPad, 0.0);
    padded.insert(padded.end(), recorded.begin(), recorded.end());
    padded.insert(padded.end(), kPad, 0.0);
    const auto coarse = test::loudnessAlignment(reference, recorded);
    ASSERT_GT(coarse.correlation, 0.5) << "the recording does not follow the clip's loudness";
    const std::size_t lag = coarse.lag;

    std::vector<double> matches;
    std::size_t tailLag = lag;
    const std::size_t end = speechEnd(reference, 1000.0);
    ASSERT_GT(end, kWindow);
    for (std::size_t at = 0; at + kWindow <= end; at += kWindow / 2) {
        const std::vector<double> window(
            reference.begin() + static_cast<std::ptrdiff_t>(at),
            reference.begin() + static_cast<std::ptrdiff_t>(at + kWindow));
        if (energy(window, 0, kWindow) < kWindow * 500.0 * 500.0) {
            continue;  // a pause between words says nothing about alignment
        }
        const std::size_t centre = lag + at;
        const auto local =
            bestAlignment(window, padded, centre > kNear ? centre - kNear : 0, centre + kNear);
        matches.push_back(local.correlation);
        tailLag = local.lag - at;
    }
    ASSERT_GE(matches.size(), 4u);
    std::sort(matches.begin(), matches.end());
    EXPECT_GT(matches[matches.size() / 2], 0.5)
        << "median of " << matches.size() << " windows; worst " << matches.front();

    // The last 200 ms of speech must be there, about as loud as played: a stop that drops the
    // end of the capture loses exactly this part.
    const std::size_t endInRecording = tailLag + end;
    ASSERT_LE(endInRecording, kPad + recorded.size()) << "the end of the speech was not recorded";
    const double playedTail = energy(reference, end - kWindow, kWindow);
    const double recordedTail = energy(padded, endInRecording - kWindow, kWindow);
    EXPECT_GT(recordedTail, 0.25 * playedTail)
        << "played tail energy " << playedTail << ", recorded " << recordedTail;
    EXPECT_LT(recordedTail, 4.0 * playedTail);
    fs::remove(*stopped->file);
    fs::remove_all(folder);
}

TEST_F(RecorderAudioTest, SilenceKeepsItsLengthAndStaysBelowTheSpeechThreshold) {
    requireSession();
    auto recorder = Recorder::create(capture_);
    ASSERT_TRUE(recorder->start(false));
    std::this_thread::sleep_for(1500ms);
    const auto stopped = stopAndWait(*recorder);
    ASSERT_TRUE(stopped);
    ASSERT_TRUE(stopped->file);
    // Nothing of the held time is lost, even where the source delivered no data at all.
    EXPECT_GT(stopped->duration, 1.4);
    EXPECT_LT(stopped->duration, 1.8);
    EXPECT_LT(peakDBFS(*stopped->file), -55.0f);
    fs::remove(*stopped->file);
}

TEST_F(RecorderAudioTest, ABluetoothHeadsetIsNeverTakenForTheBuiltInMicrophone) {
    requireSession();
    loadFakeSource("fake_bt", "device.form_factor=headset device.bus=bluetooth device.api=bluez5");
    loadFakeSource("fake_bt_internal", "device.form_factor=internal device.api=bluez5");
    auto list = capture_->listSources();
    ASSERT_EQ(list.status, AudioServerStatus::ok);
    bool sawHeadset = false;
    for (const auto& source : list.sources) {
        if (source.name == "fake_bt") {
            sawHeadset = true;
            EXPECT_EQ(source.bus, "bluetooth");
            EXPECT_EQ(source.formFactor, "headset");
            EXPECT_FALSE(source.isMonitor);
        }
        if (source.name == "micfeed.monitor") {
            EXPECT_TRUE(source.isMonitor);
        }
    }
    EXPECT_TRUE(sawHeadset);
    EXPECT_EQ(findBuiltInSource(list), nullptr);

    // Asked for the built-in microphone, the recorder falls back to the default, not the headset.
    auto recorder = Recorder::create(capture_);
    ASSERT_TRUE(recorder->start(true));
    const std::string outputs = run("pactl list source-outputs");
    EXPECT_EQ(outputs.find("fake_bt"), std::string::npos) << outputs;
    ASSERT_TRUE(stopAndWait(*recorder));
    EXPECT_EQ(logs().front(), "⚠️ 找不到内置麦克风,改用系统默认输入");

    loadFakeSource("fake_internal", "device.form_factor=internal device.bus=pci device.api=alsa");
    list = capture_->listSources();
    const auto* builtIn = findBuiltInSource(list);
    ASSERT_NE(builtIn, nullptr);
    EXPECT_EQ(builtIn->name, "fake_internal");
}

TEST_F(RecorderAudioTest, ASuspendedOrMutedSourceIsSaidAndTheStopStillCompletes) {
    requireSession();
    run("pactl set-source-mute vmic 1");
    auto list = capture_->listSources();
    for (const auto& source : list.sources) {
        if (source.name == "vmic") {
            EXPECT_TRUE(source.muted);
        }
    }
    run("pactl set-source-mute vmic 0");

    run("pactl suspend-source vmic 1");
    auto recorder = Recorder::create(capture_);
    const bool started = recorder->start(false);
    std::this_thread::sleep_for(300ms);
    const auto stopped = stopAndWait(*recorder);
    run("pactl suspend-source vmic 0");
    ASSERT_TRUE(started);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(logs(), std::vector<std::string>{
                          "⚠️ 录音设备处于挂起状态,可能录不到声音:vmic"});
    for (const auto& line : logs()) {
        EXPECT_NE(line, "⚠️ 录音文件落盘超时");
    }
    if (stopped->file) {
        fs::remove(*stopped->file);
    }
}

TEST_F(RecorderAudioTest, ASourceThatIsGoneCannotBeOpened) {
    requireSession();
    const auto opened = capture_->open("no_such_source", {48000, 1}, {});
    EXPECT_EQ(opened.stream, nullptr);
    EXPECT_FALSE(opened.error.empty());
}

TEST_F(RecorderAudioTest, WithoutASoundServerStartFailsWithItsLine) {
    const char* previous = std::getenv("PULSE_SERVER");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/vurin-test/native", 1);
    auto recorder = Recorder::create(std::make_shared<PulseAudioCapture>());
    const auto before = std::chrono::steady_clock::now();
    const bool started = recorder->start(false);
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_FALSE(recorder->start(false));
    if (previous != nullptr) {
        setenv("PULSE_SERVER", saved.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
    EXPECT_FALSE(started);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_LT(took, 4s);
    ASSERT_FALSE(logs().empty());
    EXPECT_EQ(logs().back(), "❌ 找不到可用的录音设备");
    int unreachable = 0;
    for (const auto& line : logs()) {
        unreachable +=
            line.starts_with("⚠️ 无法连接音频服务(PulseAudio/PipeWire):") ? 1 : 0;
    }
    EXPECT_EQ(unreachable, 1) << "the unreachable server is reported once, not per attempt";
    const auto stopped = stopAndWait(*recorder);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->file, std::nullopt);
}

}  // namespace
}  // namespace vurin
