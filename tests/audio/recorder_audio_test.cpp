// Records through the sound server of the test session: "micfeed" is a null sink whose monitor
// is remapped as the default source "vmic". Speech into it is left to the desktop test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include "audio/recorder.h"
#include "audio/recording_files.h"
#include "platform/linux/audio_capture_pulse.h"
#include "support/testing.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void pactl(const std::string& arguments) {
    EXPECT_EQ(std::system(("timeout 10 pactl " + arguments + " >/dev/null").c_str()), 0)
        << arguments;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class RecorderAudioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(capture_->listSources().defaultSourceName, "vmic")
            << "run in scripts/test-session";
    }
    AudioSourceInfo find(const std::string& name) {
        for (const auto& source : capture_->listSources().sources) {
            if (source.name == name) {
                return source;
            }
        }
        return {.name = "<none>"};
    }
    RecordingResult stop() {
        auto promise = std::make_shared<std::promise<RecordingResult>>();
        recorder_->stop(
            [promise](RecordingResult result) { promise->set_value(std::move(result)); });
        auto stopped = promise->get_future();
        EXPECT_EQ(stopped.wait_for(15s), std::future_status::ready) << "the stop never completed";
        return stopped.wait_for(0s) == std::future_status::ready ? stopped.get()
                                                                 : RecordingResult{};
    }

    std::shared_ptr<PulseAudioCapture> capture_ = std::make_shared<PulseAudioCapture>();
    std::shared_ptr<Recorder> recorder_ = Recorder::create(capture_);
    testing::LogCapture log_;
};

TEST_F(RecorderAudioTest, TheServersDevicePropertiesAndMuteAreRead) {
    pactl(
        "load-module module-remap-source master=micfeed.monitor source_name=fake_bt "
        "\"source_properties='device.form_factor=headset device.bus=bluetooth "
        "device.api=bluez5'\"");
    pactl("set-source-mute vmic 1");
    const auto headset = find("fake_bt");
    EXPECT_TRUE(find("vmic").muted);
    pactl("set-source-mute vmic 0");
    EXPECT_EQ(std::system("pactl list short modules | awk '/source_name=fake_bt/ {print $1}' | "
                          "xargs -r pactl unload-module"),
              0);
    EXPECT_EQ(std::tie(headset.formFactor, headset.bus, headset.api),
              std::make_tuple("headset", "bluetooth", "bluez5"));
    EXPECT_FALSE(headset.isMonitor || headset.muted);
    EXPECT_TRUE(find("micfeed.monitor").isMonitor);
}

// A suspended source still answers the stop (no time-out line); an unreachable server is said once.
TEST_F(RecorderAudioTest, ASuspendedMissingOrUnreachableSourceIsSaid) {
    pactl("suspend-source vmic 1");
    const bool started = recorder_->start(false);
    stop();
    pactl("suspend-source vmic 0");
    EXPECT_TRUE(started);
    EXPECT_EQ(log_.lines(),
              std::vector<std::string>{
                  "⚠️ 录音设备处于挂起状态,可能录不到声音:vmic"});
    const auto opened = capture_->open("no_such_source", {48000, 1}, {});
    EXPECT_EQ(opened.stream, nullptr);
    EXPECT_FALSE(opened.error.empty());
    testing::ScopedEnvironment environment;
    environment.set("PULSE_SERVER", "unix:/nonexistent/vurin-test/native");
    PulseAudioCapture unreachable;
    EXPECT_EQ(unreachable.listSources().status, AudioServerStatus::unavailable);
    EXPECT_EQ(unreachable.open("vmic", {48000, 1}, {}).stream, nullptr);
    EXPECT_EQ(log_.countContaining("⚠️ 无法连接音频服务(PulseAudio/PipeWire):"), 1u);
}

TEST_F(RecorderAudioTest, SilenceKeepsItsLengthAndStaysBelowTheSpeechThreshold) {
    const auto vmic = find("vmic");
    // Seconds of audio in the file under way, converted as it comes (its header counts too).
    const auto captured = [] {
        for (const auto& entry : fs::directory_iterator(recordingDirectory())) {
            if (entry.path().extension() == ".wav") {
                return static_cast<double>(entry.file_size()) / (16000 * 2);
            }
        }
        return 0.0;
    };
    const auto before = Clock::now();
    ASSERT_TRUE(recorder_->start(false));
    const auto started = Clock::now();
    ASSERT_TRUE(testing::eventually([&] { return captured() >= 1.5; }));
    const double held = secondsSince(started);
    const RecordingResult stopped = stop();
    ASSERT_TRUE(stopped.file);
    // Nothing held is lost, even where the source delivered no data, and nothing is made up.
    EXPECT_GT(stopped.seconds, held - 0.1);
    EXPECT_LT(stopped.seconds, secondsSince(before) + 0.1);
    EXPECT_LT(stopped.peakDBFS, -55.0f);
}

}  // namespace
}  // namespace vurin
