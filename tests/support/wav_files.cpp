#include "support/wav_files.h"

#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numbers>

namespace vurin::test {

namespace fs = std::filesystem;

bool writeSignal(const fs::path& file, int sampleRate, int channels, int format,
                 std::int64_t frames, const std::function<double(std::int64_t, int)>& sample) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format != 0 ? format : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
    if (out == nullptr) {
        return false;
    }
    std::vector<double> samples(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] =
            sample(static_cast<std::int64_t>(i) / channels, static_cast<int>(i % channels));
    }
    // One write call: per-frame writes would be one system call each.
    const bool ok = sf_writef_double(out, samples.data(), frames) == frames;
    return sf_close(out) == 0 && ok;
}

bool writeTone(const fs::path& file, const ToneSpec& spec) {
    const double step = 2.0 * std::numbers::pi * spec.frequency / spec.sampleRate;
    return writeSignal(file, spec.sampleRate, spec.channels, spec.format,
                       std::llround(spec.seconds * spec.sampleRate), [&](std::int64_t i, int) {
                           return spec.amplitude * std::sin(step * static_cast<double>(i));
                       });
}

std::optional<DecodedWav> readWav(const fs::path& file) {
    SF_INFO info{};
    SNDFILE* in = sf_open(file.c_str(), SFM_READ, &info);
    if (in == nullptr) {
        return std::nullopt;
    }
    DecodedWav wav{info.samplerate, info.channels, info.format, {}};
    wav.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_short(in, wav.samples.data(), info.frames);
    wav.samples.resize(static_cast<std::size_t>(got * info.channels));
    sf_close(in);
    return wav;
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

fs::path freshTestFolder(const std::string& name) {
    const char* tmpdir = std::getenv("TMPDIR");
    const fs::path folder = fs::path(tmpdir != nullptr ? tmpdir : "/tmp") / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

}  // namespace vurin::test
