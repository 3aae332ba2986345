// Records through the real sound server of the test session: "micfeed" is a null sink whose
// monitor is remapped as the default source "vmic", so playing into micfeed speaks into the mic.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <future>

#include "audio/audio_convert.h"
#include "audio/capture_source_choice.h"
#include "audio/peak_level.h"
#include "audio/recorder.h"
#include "audio/recording_files.h"
#include "platform/linux/audio_capture_pulse.h"
#include "support/audio_matching.h"
#include "support/testing.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

struct Stopped {
    std::optional<fs::path> file;
    double duration = -1;
};

class RecorderAudioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto list = capture_->listSources();
        ASSERT_EQ(list.status, AudioServerStatus::ok)
            << "run inside scripts/test-session: " << list.reason;
        ASSERT_EQ(list.defaultSourceName, "vmic") << "run inside scripts/test-session";
        for (const auto& source : list.sources) {
            if (source.name == "vmic") {
                bytesPerSecond_ = source.sampleRate * source.channels * sizeof(float);
            }
        }
    }
    void TearDown() override {
        for (const auto& module : modules_) {
            run("pactl unload-module " + module);
        }
    }

    std::optional<Stopped> stop() {
        auto promise = std::make_shared<std::promise<Stopped>>();
        auto future = promise->get_future();
        recorder_->stop([promise](std::optional<fs::path> file, double duration) {
            promise->set_value({std::move(file), duration});
        });
        if (future.wait_for(15s) != std::future_status::ready) {
            return std::nullopt;
        }
        return future.get();
    }

    // Seconds of audio in the capture file of the recording under way (its header counts too).
    double captured() const {
        for (const auto& entry : fs::directory_iterator(recordingDirectory())) {
            if (entry.path().string().ends_with(".raw.wav")) {
                return static_cast<double>(entry.file_size()) / bytesPerSecond_;
            }
        }
        return 0;
    }

    // A remapped micfeed monitor that claims to be another kind of device.
    void loadFakeSource(const std::string& name, const std::string& properties) {
        const std::string index =
            run("pactl load-module module-remap-source master=micfeed.monitor source_name=" + name +
                " \"source_properties='" + properties + "'\"");
        ASSERT_FALSE(index.empty()) << "could not load the fake source " << name;
        modules_.push_back(index.substr(0, index.find('\n')));
    }

    std::shared_ptr<PulseAudioCapture> capture_ = std::make_shared<PulseAudioCapture>();
    std::shared_ptr<Recorder> recorder_ = Recorder::create(capture_);
    testing::LogCapture log_;
    std::vector<std::string> modules_;
    double bytesPerSecond_ = 1;
};

TEST_F(RecorderAudioTest, SpeechIntoTheMicrophoneComesBackAsA16kMonoFileWithItsEnd) {
    const fs::path folder = test::freshTestFolder("speech-into-mic");
    const fs::path clip = folder / "phrase.wav";
    run("espeak-ng -w " + clip.string() + " \"The quick brown fox jumps over the lazy dog.\"");
    ASSERT_TRUE(fs::exists(clip)) << "espeak-ng made no clip (scripts/install-deps installs it)";
    const double clipSeconds = downsampleTo16k(clip, folder / "phrase-16k.wav");
    const auto reference = test::monoSamples(folder / "phrase-16k.wav");
    ASSERT_GT(clipSeconds, 1.0);

    recorder_->warmUp(false);
    recorder_->waitForBackgroundTasks();
    const auto started = Clock::now();
    ASSERT_TRUE(recorder_->start(false));
    run("paplay -d micfeed " + clip.string());  // returns once the clip has been played
    // The monitor and the remapped source deliver a little behind the sink: wait until the
    // recording has caught up with the time the clip took.
    const double played = seconds(Clock::now() - started);
    ASSERT_TRUE(testing::eventually([&] { return captured() > played + 0.05; }));
    const auto stopped = stop();

    ASSERT_TRUE(stopped && stopped->file) << "no recording came back";
    EXPECT_FALSE(fs::exists(captureFileURL(*stopped->file))) << "capture file left behind";
    EXPECT_GT(stopped->duration, clipSeconds - 0.1);
    const auto wav = test::readWav(*stopped->file);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->sampleRate, 16000);
    EXPECT_EQ(wav->channels, 1);
    EXPECT_GT(peakDBFS(*stopped->file), -55.0f);
    const auto recorded = test::monoSamples(*stopped->file);
    const auto aligned = test::loudnessAlignment(reference, recorded);
    ASSERT_GT(aligned.correlation, 0.5) << "the recording does not follow the clip's loudness";

    // The last 200 ms of speech must be there, about as loud as played: a stop that drops the
    // end of the capture loses exactly this part. The lag counts 4800 samples of padding.
    constexpr std::size_t kTail = 3200;
    const std::size_t end = test::speechEnd(reference, 1000.0);
    const std::size_t endInRecording = aligned.lag + end;
    ASSERT_GT(endInRecording, 4800 + kTail);
    ASSERT_LE(endInRecording, 4800 + recorded.size()) << "the end of the speech was not recorded";
    const double playedTail = test::energy(reference, end - kTail, kTail);
    const double recordedTail = test::energy(recorded, endInRecording - 4800 - kTail, kTail);
    EXPECT_GT(recordedTail, 0.25 * playedTail)
        << "played " << playedTail << ", recorded " << recordedTail;
    EXPECT_LT(recordedTail, 4.0 * playedTail);
    fs::remove(*stopped->file);
    fs::remove_all(folder);
}

TEST_F(RecorderAudioTest, SilenceKeepsItsLengthAndStaysBelowTheSpeechThreshold) {
    const auto before = Clock::now();
    ASSERT_TRUE(recorder_->start(false));
    const auto started = Clock::now();
    ASSERT_TRUE(testing::eventually([&] { return captured() >= 1.5; }));
    const auto stopping = Clock::now();
    const auto stopped = stop();
    const auto after = Clock::now();
    ASSERT_TRUE(stopped && stopped->file);
    // Nothing of the held time is lost, even where the source delivered no data at all, and
    // nothing is made up: the length lies within what the clock saw.
    EXPECT_GT(stopped->duration, seconds(stopping - started) - 0.1);
    EXPECT_LT(stopped->duration, seconds(after - before) + 0.1);
    EXPECT_LT(peakDBFS(*stopped->file), -55.0f);
    fs::remove(*stopped->file);
}

TEST_F(RecorderAudioTest, TheServersDevicePropertiesReachTheChoiceOfTheBuiltInMicrophone) {
    loadFakeSource("fake_bt", "device.form_factor=headset device.bus=bluetooth device.api=bluez5");
    auto list = capture_->listSources();
    const auto find = [&](const std::string& name) {
        const auto found = std::find_if(list.sources.begin(), list.sources.end(),
                                        [&](const auto& source) { return source.name == name; });
        return found != list.sources.end() ? *found : AudioSourceInfo{.name = "<none>"};
    };
    const auto headset = find("fake_bt");
    EXPECT_EQ(std::tie(headset.formFactor, headset.bus, headset.api),
              std::make_tuple("headset", "bluetooth", "bluez5"));
    EXPECT_FALSE(headset.isMonitor);
    EXPECT_TRUE(find("micfeed.monitor").isMonitor);
    EXPECT_EQ(findBuiltInSource(list), nullptr);

    loadFakeSource("fake_internal", "device.form_factor=internal device.bus=pci device.api=alsa");
    list = capture_->listSources();
    ASSERT_NE(findBuiltInSource(list), nullptr);
    EXPECT_EQ(findBuiltInSource(list)->name, "fake_internal");
}

TEST_F(RecorderAudioTest, ASuspendedOrMutedSourceIsSaidAndTheStopStillCompletes) {
    run("pactl set-source-mute vmic 1");
    const auto list = capture_->listSources();
    run("pactl set-source-mute vmic 0");
    const auto vmic = std::find_if(list.sources.begin(), list.sources.end(),
                                   [](const auto& source) { return source.name == "vmic"; });
    ASSERT_NE(vmic, list.sources.end());
    EXPECT_TRUE(vmic->muted);

    run("pactl suspend-source vmic 1");
    const bool started = recorder_->start(false);
    const auto stopped = stop();
    run("pactl suspend-source vmic 0");
    ASSERT_TRUE(started);
    ASSERT_TRUE(stopped);
    // No "⚠️ 录音文件落盘超时": a suspended source still answers the stop.
    EXPECT_EQ(log_.lines(),
              std::vector<std::string>{
                  "⚠️ 录音设备处于挂起状态,可能录不到声音:vmic"});
    if (stopped->file) {
        fs::remove(*stopped->file);
    }
}

TEST_F(RecorderAudioTest, ASourceThatIsGoneCannotBeOpened) {
    const auto opened = capture_->open("no_such_source", {48000, 1}, {});
    EXPECT_EQ(opened.stream, nullptr);
    EXPECT_FALSE(opened.error.empty());
}

TEST_F(RecorderAudioTest, WithoutASoundServerStartFailsWithItsLineOnce) {
    testing::ScopedEnvironment environment;
    environment.set("PULSE_SERVER", "unix:/nonexistent/vurin-test/native");
    recorder_ = Recorder::create(std::make_shared<PulseAudioCapture>());
    EXPECT_FALSE(recorder_->start(false));
    EXPECT_FALSE(recorder_->start(false));
    EXPECT_FALSE(recorder_->isRecording());
    EXPECT_EQ(log_.lines().back(), "❌ 找不到可用的录音设备");
    EXPECT_EQ(log_.countContaining("⚠️ 无法连接音频服务(PulseAudio/PipeWire):"), 1u)
        << "the unreachable server is reported once, not per attempt";
    const auto stopped = stop();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->file, std::nullopt);
}

}  // namespace
}  // namespace vurin
