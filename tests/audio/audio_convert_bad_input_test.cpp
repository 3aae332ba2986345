#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "audio/audio_convert.h"
#include "support/audio_convert_fixture.h"
#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using test::AudioConvertTest;
using test::DecodedWav;

const std::string kCannotRead = "❌ 读不到录音文件";

using AudioConvertBadInputTest = AudioConvertTest;

TEST_F(AudioConvertBadInputTest, UnreadableSourcesLogAndLeaveNoDestination) {
    test::writeBytes(file("empty.wav"), "");
    test::writeBytes(file("text.wav"), "this is not a sound file at all, only some words\n");
    ASSERT_TRUE(test::writeTone(file("whole.wav"), {.sampleRate = 48000}));
    fs::copy_file(file("whole.wav"), file("cut-in-header.wav"));
    fs::resize_file(file("cut-in-header.wav"), 30);

    for (const char* name : {"missing.wav", "empty.wav", "text.wav", "cut-in-header.wav"}) {
        SCOPED_TRACE(name);
        clearLines();
        EXPECT_EQ(downsampleTo16k(file(name), file("out.wav")), 0.0);
        EXPECT_EQ(lines(), std::vector<std::string>{kCannotRead});
        EXPECT_FALSE(fs::exists(file("out.wav")));
    }
}

TEST_F(AudioConvertBadInputTest, HeaderOnlyCaptureGivesZeroAndRemovesTheEmptyResult) {
    ASSERT_TRUE(test::writeSignal(file("in.wav"), 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0,
                                  [](std::int64_t, int) { return 0.0; }));
    // A converted file from an earlier attempt must not survive either.
    test::writeBytes(file("out.wav"), "stale");
    EXPECT_EQ(downsampleTo16k(file("in.wav"), file("out.wav")), 0.0);
    EXPECT_FALSE(fs::exists(file("out.wav")));
    EXPECT_TRUE(lines().empty());
}

TEST_F(AudioConvertBadInputTest, TruncatedCaptureConvertsTheAudioThatIsThere) {
    // The header promises one second; the file holds half of it and half of one more sample.
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 48000, .frequency = 1000}));
    fs::resize_file(file("in.wav"), 44 + 48000 + 1);
    double seconds = 0;
    convertChecked(file("in.wav"), seconds);
    EXPECT_NEAR(seconds, 0.5, 0.0002);
    EXPECT_TRUE(lines().empty());
}

TEST_F(AudioConvertBadInputTest, TruncatedFloatCaptureMidSample) {
    ASSERT_TRUE(test::writeTone(
        file("in.wav"),
        {.sampleRate = 48000, .channels = 2, .format = SF_FORMAT_WAV | SF_FORMAT_FLOAT}));
    fs::resize_file(file("in.wav"), fs::file_size(file("in.wav")) / 2 + 3);
    double seconds = 0;
    convertChecked(file("in.wav"), seconds);
    EXPECT_GT(seconds, 0.45);
    EXPECT_LT(seconds, 0.55);
}

TEST_F(AudioConvertBadInputTest, CaptureWhoseHeaderWasNeverFinishedStillConverts) {
    // libsndfile writes these sizes when a file is opened and fixes them only on close: a
    // capture whose writer never closed it looks like this.
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 48000, .frequency = 1000}));
    std::fstream patch(file("in.wav"), std::ios::in | std::ios::out | std::ios::binary);
    const char riffSize[4] = {8, 0, 0, 0};
    const char dataSize[4] = {0, 0, 0, 0};
    patch.seekp(4).write(riffSize, 4);
    patch.seekp(40).write(dataSize, 4);
    patch.close();
    double seconds = 0;
    convertChecked(file("in.wav"), seconds);
    EXPECT_NEAR(seconds, 1.0, 0.0002);
}

TEST_F(AudioConvertBadInputTest, NonFiniteSamplesBecomeSilenceNotNoise) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    ASSERT_TRUE(test::writeSignal(
        file("in.wav"), 48000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000,
        [&](std::int64_t i, int) { return i % 3 == 0 ? nan : (i % 3 == 1 ? inf : -inf); }));
    double seconds = 0;
    const DecodedWav out = convertChecked(file("in.wav"), seconds);
    EXPECT_NEAR(seconds, 1.0, 0.0002);
    EXPECT_EQ(test::peakOf(out.samples, 0, out.samples.size()), 0);
}

TEST_F(AudioConvertBadInputTest, DestinationThatCannotBeCreatedLogsTheRate) {
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 48000}));
    EXPECT_EQ(downsampleTo16k(file("in.wav"), file("no-such-folder/out.wav")), 0.0);
    EXPECT_EQ(lines(), std::vector<std::string>{"❌ 无法建立 48000Hz → 16000Hz 转换"});

    clearLines();
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 11025}));
    EXPECT_EQ(downsampleTo16k(file("in.wav"), file("no-such-folder/out.wav")), 0.0);
    EXPECT_EQ(lines(), std::vector<std::string>{"❌ 无法建立 11025Hz → 16000Hz 转换"});
}

// Lets writes fail beyond a file size limit (EFBIG instead of the SIGXFSZ signal) for the
// life of the object.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return active_; }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

TEST_F(AudioConvertBadInputTest, ChunksThatFailToWriteAreNotCounted) {
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 48000}));
    double seconds = 0;
    {
        // Room for the header and 5000 samples of the 16000 the second needs.
        FileSizeLimit limit(44 + 2 * 5000);
        ASSERT_TRUE(limit.active());
        seconds = downsampleTo16k(file("in.wav"), file("out.wav"));
    }
    const std::optional<DecodedWav> out = test::readWav(file("out.wav"));
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->samples.size(), 5000u);
    EXPECT_DOUBLE_EQ(seconds, 5000 / 16000.0);
}

TEST_F(AudioConvertBadInputTest, NothingWrittenAtAllRemovesTheDestination) {
    ASSERT_TRUE(test::writeTone(file("in.wav"), {.sampleRate = 48000}));
    double seconds = 1;
    {
        FileSizeLimit limit(44);  // the header fits, no sample does
        ASSERT_TRUE(limit.active());
        seconds = downsampleTo16k(file("in.wav"), file("out.wav"));
    }
    EXPECT_EQ(seconds, 0.0);
    EXPECT_FALSE(fs::exists(file("out.wav")));
}

}  // namespace
}  // namespace vurin
