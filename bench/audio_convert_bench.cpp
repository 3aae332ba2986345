// How fast a capture becomes what the providers take: 60 s of 48 kHz stereo float (the usual
// capture format) converted by downsampleTo16k into 16 kHz mono 16-bit. Prints the median of a
// few runs as a multiple of real time; never fails.
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_convert.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr double kSeconds = 60.0;
constexpr int kRuns = 5;

// Speech-like content (a few tones and some noise, different per channel) so the resampler
// does real work on every sample.
bool writeCapture(const fs::path& file) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = kChannels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
    if (out == nullptr) {
        return false;
    }
    std::mt19937 random(42);
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    constexpr sf_count_t kChunk = 4800;
    std::vector<float> chunk(kChunk * kChannels);
    const auto total = static_cast<sf_count_t>(kSeconds * kRate);
    bool ok = true;
    for (sf_count_t start = 0; start < total && ok; start += kChunk) {
        for (sf_count_t i = 0; i < kChunk; ++i) {
            const double t = static_cast<double>(start + i) / kRate;
            const double voice = 0.3 * std::sin(2 * std::numbers::pi * 220 * t) +
                                 0.1 * std::sin(2 * std::numbers::pi * 1870 * t) +
                                 0.05 * std::sin(2 * std::numbers::pi * 9500 * t);
            for (int c = 0; c < kChannels; ++c) {
                chunk[static_cast<std::size_t>(i * kChannels + c)] =
                    static_cast<float>(voice) + noise(random);
            }
        }
        ok = sf_writef_float(out, chunk.data(), kChunk) == kChunk;
    }
    sf_close(out);
    return ok;
}

}  // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / "vurin-audio-convert-bench";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const fs::path capture = folder / "capture.wav";
    const fs::path converted = folder / "converted.wav";
    if (!writeCapture(capture)) {
        std::printf("audio_convert: could not write the %s test capture\n", capture.c_str());
        fs::remove_all(folder, ignored);
        return 0;
    }

    std::vector<double> seconds;
    double audioSeconds = 0;
    for (int run = 0; run < kRuns; ++run) {
        fs::remove(converted, ignored);
        const auto began = Clock::now();
        audioSeconds = vurin::downsampleTo16k(capture, converted);
        seconds.push_back(std::chrono::duration<double>(Clock::now() - began).count());
    }
    fs::remove_all(folder, ignored);
    if (audioSeconds <= 0) {
        std::printf("audio_convert: the conversion produced no audio\n");
        return 0;
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf(
        "audio_convert: %.0f s of %d Hz %d-channel float -> 16 kHz mono s16 (downsampleTo16k),"
        " %d runs, file in the page cache\n",
        kSeconds, kRate, kChannels, kRuns);
    std::printf("  median %.1f ms = %.0fx real time   (fastest %.1f ms, slowest %.1f ms)\n",
                median * 1000, kSeconds / median, seconds.front() * 1000, seconds.back() * 1000);
    std::printf("  output %.3f s of audio; goal >= 1000x real time: %s\n", audioSeconds,
                kSeconds / median >= 1000 ? "met" : "NOT met");
    return 0;
}
