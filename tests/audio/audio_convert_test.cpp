#include "audio/audio_convert.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <limits>
#include <numbers>

#include "audio/peak_level.h"
#include "support/testing.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using test::DecodedWav;
using test::writeSignal;
using test::writeTone;

// Largest sample magnitude in [from, to).
int peakOf(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    int peak = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    }
    return peak;
}

double sine(double frequency, std::int64_t i, int rate) {
    return 0.5 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate);
}

class AudioConvertTest : public ::testing::Test {
  protected:
    fs::path file(const std::string& name) const { return folder_ / name; }

    // Converts in.wav into out.wav and checks what every converted file must be: 16 kHz mono
    // 16-bit, and a returned duration of exactly the frames in it.
    DecodedWav convert(double& seconds) {
        seconds = downsampleTo16k(file("in.wav"), file("out.wav"));
        const auto out = test::readWav(file("out.wav"));
        if (!out) {
            ADD_FAILURE() << "no converted file";
            return {};
        }
        EXPECT_EQ(out->sampleRate, 16000);
        EXPECT_EQ(out->channels, 1);
        EXPECT_EQ(out->format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_DOUBLE_EQ(seconds, static_cast<double>(out->samples.size()) / 16000.0);
        return *out;
    }

    fs::path folder_ = test::freshTestFolder(
        std::string("convert-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    testing::LogCapture log_;
};

using Writer = std::function<bool(const fs::path&)>;

// A 1 kHz half-scale tone of one second; `cutTo` bytes keeps only so much of the file (-1: half
// of it and three bytes more).
Writer tone(int rate, int channels, int format, std::intmax_t cutTo = 0) {
    return [=](const fs::path& in) {
        const bool written = writeTone(
            in, {.sampleRate = rate, .channels = channels, .format = format, .frequency = 1000});
        if (cutTo != 0) {
            fs::resize_file(in, cutTo > 0 ? cutTo : fs::file_size(in) / 2 + 3);
        }
        return written;
    };
}

TEST_F(AudioConvertTest, AnyCaptureBecomesMono16kOfTheSameLengthAndLevel) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        Writer write;
        double seconds = 1.0;
        double dbfs = -6.02;
        double tolerance = 0.0002;
    };
    const int pcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const int float32 = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    // clang-format off
    const Case cases[] = {
        {"unsigned 8 bit", tone(48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8)},
        {"int16 44.1k stereo", tone(44100, 2, pcm16)},
        {"int24", tone(48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24)},
        {"int32 96k", tone(96000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_32)},
        {"float", tone(48000, 1, float32)},
        {"double 22.05k", tone(22050, 1, SF_FORMAT_WAV | SF_FORMAT_DOUBLE)},
        {"six channels", tone(48000, 6, float32)},
        {"192k", tone(192000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24)},
        {"8k up-sampled", tone(8000, 1, pcm16)},
        {"11025", tone(11025, 1, pcm16)},
        {"wave extensible stereo float", tone(48000, 2, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT)},
        {"aiff", tone(48000, 1, SF_FORMAT_AIFF | pcm16)},
        // The header promises a second; the file holds half of it and half of one more sample.
        {"truncated capture", tone(48000, 1, pcm16, 44 + 48000 + 1), 0.5},
        {"truncated float mid-sample", tone(48000, 2, float32, -1), 0.5, -6.02, 0.05},
        {"channels are averaged", [](const fs::path& in) {
             return writeSignal(in, 48000, 2, 0, 48000, [](std::int64_t i, int c) { return c == 0 ? sine(1000, i, 48000) : 0.0; });
         }, 1.0, -12.04},
        // Without dither digital silence stays exactly zero, and so do NaN and infinities.
        {"digital silence", [](const fs::path& in) { return writeTone(in, {.amplitude = 0.0}); }, 1.0, -120},
        {"non-finite samples", [](const fs::path& in) {
             return writeSignal(in, 48000, 1, float32, 48000, [](std::int64_t i, int) { return i % 3 == 0 ? nan : (i % 3 == 1 ? inf : -inf); });
         }, 1.0, -120},
        // libsndfile fixes these sizes only on close: a capture never closed looks like this.
        {"header never finished", [](const fs::path& in) {
             const bool written = tone(48000, 1, pcm16)(in);
             std::fstream patch(in, std::ios::in | std::ios::out | std::ios::binary);
             patch.seekp(4).write("\x08\0\0\0", 4);
             patch.seekp(40).write("\0\0\0\0", 4);
             return written;
         }},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.write(file("in.wav")));
        double seconds = 0;
        convert(seconds);
        EXPECT_NEAR(seconds, c.seconds, c.tolerance);
        EXPECT_NEAR(peakDBFS(file("out.wav")), c.dbfs, 0.15);
    }
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(AudioConvertTest, TheLastMillisecondsSurvive) {
    // Silence with a tone only in the final 60 ms: an undrained resampler loses most of it.
    ASSERT_TRUE(writeSignal(
        file("in.wav"), 48000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000,
        [](std::int64_t i, int) { return i < 48000 - 2880 ? 0.0 : sine(1000, i, 48000); }));
    double seconds = 0;
    const DecodedWav out = convert(seconds);
    EXPECT_NEAR(seconds, 1.0, 0.0002);
    EXPECT_NEAR(peakOf(out.samples, 15830, 15990), 16384, 400);  // the last 10 ms at full strength
    EXPECT_LT(peakOf(out.samples, 0, 15000), 40);
}

TEST_F(AudioConvertTest, SamplesComeThroughWithoutGapsOrRepeats) {
    // 16 kHz mono still passes through the converter, unchanged.
    ASSERT_TRUE(writeTone(file("in.wav"), {.sampleRate = 16000, .frequency = 1000}));
    const auto in = test::readWav(file("in.wav"));
    double seconds = 0;
    DecodedWav out = convert(seconds);
    ASSERT_EQ(out.samples.size(), 16000u);
    for (std::size_t i = 0; i < out.samples.size(); ++i) {
        ASSERT_NEAR(out.samples[i], in->samples[i], 40) << "frame " << i;
    }
    // Three seconds at 48 kHz span nine read chunks; the output must be one continuous sine.
    ASSERT_TRUE(
        writeTone(file("in.wav"), {.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT, .seconds = 3.0}));
    out = convert(seconds);
    ASSERT_NEAR(static_cast<double>(out.samples.size()), 48000.0, 2.0);
    double worst = 0;
    for (std::size_t n = 64; n + 64 < out.samples.size(); ++n) {
        worst = std::max(worst, std::abs(out.samples[n] - 32768 * sine(440, n, 16000)));
    }
    EXPECT_LT(worst, 60.0);
}

TEST_F(AudioConvertTest, FailuresLogTheirLineAndLeaveNoDestination) {
    test::writeBytes(file("empty.wav"), "");
    test::writeBytes(file("text.wav"), "this is not a sound file at all, only some words\n");
    ASSERT_TRUE(writeTone(file("cut-in-header.wav"), {}));
    fs::resize_file(file("cut-in-header.wav"), 30);
    ASSERT_TRUE(writeTone(file("48k.wav"), {}));
    ASSERT_TRUE(writeTone(file("11k.wav"), {.sampleRate = 11025}));
    // A capture that holds no frame at all (only its header) gives no file and no complaint.
    ASSERT_TRUE(writeSignal(file("header-only.wav"), 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0,
                            [](std::int64_t, int) { return 0.0; }));
    const std::string kCannotRead = "❌ 读不到录音文件";
    const std::pair<const char*, std::string> cases[] = {
        {"missing.wav", kCannotRead},
        {"empty.wav", kCannotRead},
        {"text.wav", kCannotRead},
        {"cut-in-header.wav", kCannotRead},
        {"header-only.wav", ""},
        {"48k.wav", "❌ 无法建立 48000Hz → 16000Hz 转换"},
        {"11k.wav", "❌ 无法建立 11025Hz → 16000Hz 转换"},
    };
    for (const auto& [name, line] : cases) {
        SCOPED_TRACE(name);
        log_.clear();
        const bool unwritable = line.find("转换") != std::string::npos;
        const fs::path out = unwritable ? file("no-such-folder/out.wav") : file("out.wav");
        fs::remove(out);
        if (line.empty()) {
            test::writeBytes(out, "stale");  // an earlier attempt's file must not survive either
        }
        EXPECT_EQ(downsampleTo16k(file(name), out), 0.0);
        EXPECT_EQ(log_.lines(), line.empty() ? std::vector<std::string>{} : std::vector{line});
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(AudioConvertTest, ChunksThatFailToWriteAreNotCounted) {
    ASSERT_TRUE(writeTone(file("in.wav"), {}));
    // Writes beyond the file size limit fail (EFBIG instead of the SIGXFSZ signal).
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    for (const std::size_t fits : {5000, 0}) {  // of the 16000 samples, besides the header
        SCOPED_TRACE(fits);
        rlimit limited = unlimited;
        limited.rlim_cur = 44 + 2 * fits;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const double seconds = downsampleTo16k(file("in.wav"), file("out.wav"));
        setrlimit(RLIMIT_FSIZE, &unlimited);
        EXPECT_EQ(fs::exists(file("out.wav")), fits > 0);  // nothing written: no file at all
        const auto out = test::readWav(file("out.wav"));
        EXPECT_EQ(out ? out->samples.size() : 0u, fits);
        EXPECT_DOUBLE_EQ(seconds, fits / 16000.0);
    }
    std::signal(SIGXFSZ, handler);
}

}  // namespace
}  // namespace vurin
