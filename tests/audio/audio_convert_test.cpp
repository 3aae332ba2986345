#include "audio/audio_convert.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <ostream>

#include "audio/peak_level.h"
#include "support/audio_convert_fixture.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

using test::AudioConvertTest;
using test::DecodedWav;
using test::peakOf;

TEST_F(AudioConvertTest, StereoFloat48kBecomesMono16kWithTheSameDuration) {
    ASSERT_TRUE(test::writeTone(
        file("in.wav"),
        {.sampleRate = 48000, .channels = 2, .format = SF_FORMAT_WAV | SF_FORMAT_FLOAT}));
    double seconds = 0;
    const DecodedWav out = convertChecked(file("in.wav"), seconds);
    // One third as many frames; the drained tail keeps the full second.
    EXPECT_NEAR(static_cast<double>(out.samples.size()), 16000.0, 2.0);
    EXPECT_TRUE(lines().empty());
}

TEST_F(AudioConvertTest, TheLastMillisecondsSurvive) {
    // Silence with a tone only in the final 60 ms: an undrained resampler loses most of it.
    const std::int64_t frames = 48000;
    ASSERT_TRUE(test::writeSignal(file("in.wav"), 48000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, frames,
                                  [&](std::int64_t i, int) {
                                      if (i < frames - 2880) {
                                          return 0.0;
                                      }
                                      return 0.5 *
                                             std::sin(2 * std::numbers::pi * 1000 * i / 48000.0);
                                  }));
    double seconds = 0;
    const DecodedWav out = convertChecked(file("in.wav"), seconds);
    EXPECT_NEAR(seconds, 1.0, 0.0002);
    // The last 10 ms still carry the tone at full strength.
    EXPECT_NEAR(peakOf(out.samples, 15830, 15990), 16384, 400);
    EXPECT_LT(peakOf(out.samples, 0, 15000), 40);
}

TEST_F(AudioConvertTest, SixteenKilohertzMonoStillPassesThroughTheConverter) {
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 16000, .frequency = 1000}));
    const std::optional<DecodedWav> in = test::readWav(file("in.wav"));
    double seconds = 0;
    const DecodedWav out = convertChecked(file("in.wav"), seconds);
    ASSERT_EQ(out.samples.size(), 16000u);
    for (std::size_t i = 0; i < out.samples.size(); ++i) {
        ASSERT_NEAR(out.samples[i], in->samples[i], 40) << "frame " << i;
    }
}

TEST_F(AudioConvertTest, ChunksJoinWithoutGapsOrRepeats) {
    // Three seconds at 48 kHz span nine read chunks; the output must be one continuous sine.
    ASSERT_TRUE(test::writeTone(
        file("in.wav"),
        {.sampleRate = 48000, .format = SF_FORMAT_WAV | SF_FORMAT_FLOAT, .seconds = 3.0}));
    double seconds = 0;
    const DecodedWav out = convertChecked(file("in.wav"), seconds);
    ASSERT_NEAR(static_cast<double>(out.samples.size()), 48000.0, 2.0);
    double worst = 0;
    for (std::size_t n = 64; n + 64 < out.samples.size(); ++n) {
        const double ideal = 0.5 * 32768 * std::sin(2 * std::numbers::pi * 440 * n / 16000.0);
        worst = std::max(worst, std::abs(out.samples[n] - ideal));
    }
    EXPECT_LT(worst, 60.0);
}

TEST_F(AudioConvertTest, HalfScaleToneMeasuresAboutMinusSixDBFS) {
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 44100, .frequency = 1000}));
    double seconds = 0;
    convertChecked(file("in.wav"), seconds);
    EXPECT_NEAR(peakDBFS(file("out.wav")), -6.02, 0.1);
}

TEST_F(AudioConvertTest, ChannelsAreAveraged) {
    ASSERT_TRUE(test::writeSignal(file("in.wav"), 48000, 2, 0, 48000, [](std::int64_t i, int c) {
        return c == 0 ? 0.5 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0) : 0.0;
    }));
    double seconds = 0;
    convertChecked(file("in.wav"), seconds);
    EXPECT_NEAR(peakDBFS(file("out.wav")), -12.04, 0.1);
}

TEST_F(AudioConvertTest, DigitalSilenceStaysExactlyZero) {
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 48000, .amplitude = 0.0}));
    double seconds = 0;
    const DecodedWav out = convertChecked(file("in.wav"), seconds);
    EXPECT_NEAR(seconds, 1.0, 0.0002);
    EXPECT_EQ(peakOf(out.samples, 0, out.samples.size()), 0);
    EXPECT_EQ(peakDBFS(file("out.wav")), -120.0f);
}

struct CaptureFormat {
    const char* name;
    int format;
    int sampleRate;
    int channels;
};

void PrintTo(const CaptureFormat& capture, std::ostream* out) {
    *out << capture.name;
}

class CaptureFormatTest : public AudioConvertTest,
                          public ::testing::WithParamInterface<CaptureFormat> {};

TEST_P(CaptureFormatTest, ConvertsToOneSecondAtTheSameLevel) {
    const CaptureFormat& capture = GetParam();
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = capture.sampleRate,
                                                 .channels = capture.channels,
                                                 .format = capture.format,
                                                 .frequency = 1000}));
    double seconds = 0;
    convertChecked(file("in.wav"), seconds);
    EXPECT_NEAR(seconds, 1.0, 0.0002);
    EXPECT_NEAR(peakDBFS(file("out.wav")), -6.02, 0.15);
    EXPECT_TRUE(lines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    AnyCaptureFormat, CaptureFormatTest,
    ::testing::Values(CaptureFormat{"Unsigned8Bit", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 48000, 1},
                      CaptureFormat{"Int16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2},
                      CaptureFormat{"Int24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2},
                      CaptureFormat{"Int32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 96000, 1},
                      CaptureFormat{"Float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1},
                      CaptureFormat{"Double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 22050, 1},
                      CaptureFormat{"SixChannels", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 6},
                      CaptureFormat{"Rate192k", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 192000, 2},
                      CaptureFormat{"Rate8kUpsampled", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1},
                      CaptureFormat{"Rate11025", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11025, 1},
                      CaptureFormat{"WaveExtensible", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 48000, 2},
                      CaptureFormat{"Aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 48000, 1}),
    [](const ::testing::TestParamInfo<CaptureFormat>& info) { return info.param.name; });

}  // namespace
}  // namespace vurin
