#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_convert.h"
#include "support/log.h"
#include "support/wav_files.h"

namespace vurin::test {

namespace fs = std::filesystem;

// A folder of its own per test, the log lines written meanwhile, and a conversion that checks
// what every converted file must be.
class AudioConvertTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = freshTestFolder(std::string("convert-") +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        setLogObserver([this](const std::string& line) {
            std::lock_guard guard(lock_);
            lines_.push_back(line);
        });
    }
    void TearDown() override { setLogObserver({}); }

    std::vector<std::string> lines() {
        std::lock_guard guard(lock_);
        return lines_;
    }
    void clearLines() {
        std::lock_guard guard(lock_);
        lines_.clear();
    }
    fs::path file(const std::string& name) const { return folder_ / name; }

    // Converts `source` into out.wav and checks the format every conversion must produce and
    // that the returned duration is exactly the frames in the file.
    DecodedWav convertChecked(const fs::path& source, double& seconds) {
        seconds = downsampleTo16k(source, file("out.wav"));
        std::optional<DecodedWav> out = readWav(file("out.wav"));
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

    fs::path folder_;
    std::mutex lock_;
    std::vector<std::string> lines_;
};

// Largest sample magnitude in [from, to).
inline int peakOf(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    int peak = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    }
    return peak;
}

}  // namespace vurin::test
