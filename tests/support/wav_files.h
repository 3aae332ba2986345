#pragma once

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace vurin::test {

using Signal = std::function<double(std::int64_t frame, int channel)>;

// A half-scale sine of `frequency` Hz at `sampleRate` on every channel.
inline Signal sine(double frequency, int sampleRate) {
    return [step = 2.0 * std::numbers::pi * frequency / sampleRate](std::int64_t i, int) {
        return 0.5 * std::sin(step * static_cast<double>(i));
    };
}

// `frames` frames of `signal` (full scale 1) in libsndfile's `format` (0: WAV 16-bit PCM).
inline bool writeSignal(const std::filesystem::path& file, int sampleRate, int channels, int format,
                        std::int64_t frames, const Signal& signal) {
    SF_INFO info{.samplerate = sampleRate,
                 .channels = channels,
                 .format = format ? format : (SF_FORMAT_WAV | SF_FORMAT_PCM_16)};
    SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
    if (out == nullptr) {
        return false;
    }
    std::vector<double> samples(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] =
            signal(static_cast<std::int64_t>(i) / channels, static_cast<int>(i % channels));
    }
    const bool ok = sf_writef_double(out, samples.data(), frames) == frames;
    return sf_close(out) == 0 && ok;
}

struct DecodedWav {
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<std::int16_t> samples;  // interleaved
};

// The largest magnitude among 16-bit samples (0 to 32768).
inline int peakSample(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (const std::int16_t sample : samples) {
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    return peak;
}

// A whole sound file as 16-bit samples; nothing when libsndfile cannot open it.
inline std::optional<DecodedWav> readWav(const std::filesystem::path& file) {
    SF_INFO info{};
    SNDFILE* in = sf_open(file.c_str(), SFM_READ, &info);
    if (in == nullptr) {
        return std::nullopt;
    }
    DecodedWav wav{info.samplerate, info.channels, info.format, {}};
    wav.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    wav.samples.resize(static_cast<std::size_t>(
        sf_readf_short(in, wav.samples.data(), info.frames) * info.channels));
    sf_close(in);
    return wav;
}

inline void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// A fresh, empty folder under $TMPDIR for one test's files.
inline std::filesystem::path freshTestFolder(const std::string& name) {
    const char* tmpdir = std::getenv("TMPDIR");
    const auto folder = std::filesystem::path(tmpdir != nullptr ? tmpdir : "/tmp") / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace vurin::test
