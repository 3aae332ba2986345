// The cues through the test session's sound server: what plays to the default sink "spk" is
// recorded from its monitor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/linux/audio_capture_pulse.h"
#include "platform/linux/sound_canberra.h"
#include "support/testing.h"

namespace vurin {
namespace {

using namespace std::chrono_literals;

// What the sink's monitor heard of one cue: its loudest sample, once a quarter second of silence
// followed it.
struct Heard {
    std::mutex lock;
    float peak = 0.0f;
    std::size_t quietFrames = 0;  // since the last sound

    void add(const float* samples, std::size_t frames) {
        const std::lock_guard guard(lock);
        for (std::size_t i = 0; i < frames; ++i) {
            const float level = std::abs(samples[i]);
            peak = std::max(peak, level);
            quietFrames = level > 1e-3f ? 0 : quietFrames + 1;
        }
    }
    bool over() {
        const std::lock_guard guard(lock);
        return peak > 0.0f && quietFrames > 12000;
    }
};

// The loudest sample of the cue "Glass" played at `volume`; -1 when the monitor could not be
// recorded or the cue did not end in time.
float loudestOfCue(PulseAudioCapture& capture, CanberraSoundOutput& output, float volume) {
    auto heard = std::make_shared<Heard>();
    AudioCaptureOpenResult opened = capture.open(
        "spk.monitor", {48000, 1}, {.onFrames = [heard](const float* samples, std::size_t frames) {
            heard->add(samples, frames);
        }});
    if (!opened.stream) {
        ADD_FAILURE() << opened.error;
        return -1;
    }
    EXPECT_TRUE(output.play("Glass", volume));
    const bool over = testing::eventually([&] { return heard->over(); }, 5s);
    opened.stream->close();
    EXPECT_TRUE(over) << "the cue did not sound and end within 5 s";
    const std::lock_guard guard(heard->lock);
    return over ? heard->peak : -1;
}

// The server's sample cache, one name a line.
std::string cachedSamples() {
    std::string names;
    if (FILE* list = popen("timeout 10 pactl list short samples | cut -f2 | sort", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, list) != nullptr) {
            names += line;
        }
        pclose(list);
    }
    return names;
}

// From the first time on (read from the theme, then from the server's cache, where every cue is
// put when the output starts), at the volume asked for: a tenth of the volume is 20 dB quieter.
TEST(CueSoundAudioTest, ACueSoundsAtItsVolumeTheFirstTimeAndFromTheCache) {
    testing::LogCapture logs;
    PulseAudioCapture capture;
    CanberraSoundOutput output;
    const float first = loudestOfCue(capture, output, 1.0f);
    const float quiet = loudestOfCue(capture, output, 0.1f);
    const float again = loudestOfCue(capture, output, 1.0f);
    ASSERT_GT(first, 0.05f) << "the cue never reached the sink";
    EXPECT_NEAR(20.0f * std::log10(again / first), 0.0f, 1.0f);
    EXPECT_NEAR(20.0f * std::log10(quiet / again), -20.0f, 3.0f);
    EXPECT_EQ(cachedSamples(), "audio-volume-change\nbell\ncomplete\ndialog-error\nmessage\n");
    EXPECT_TRUE(logs.lines().empty());
}

}  // namespace
}  // namespace vurin
