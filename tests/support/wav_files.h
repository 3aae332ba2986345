#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vurin::test {

// A sine tone with the same signal on every channel. `format` is libsndfile's major|minor code,
// e.g. SF_FORMAT_WAV | SF_FORMAT_FLOAT; 0 gives WAV, 16-bit PCM.
struct ToneSpec {
    int sampleRate = 48000;
    int channels = 1;
    int format = 0;
    double seconds = 1.0;
    double frequency = 440.0;
    double amplitude = 0.5;  // of full scale; 0 gives digital silence
};

// False when the file cannot be made.
bool writeTone(const std::filesystem::path& file, const ToneSpec& spec);

// Writes `frames` frames whose samples come from `sample(frame, channel)` (full scale = 1).
bool writeSignal(const std::filesystem::path& file, int sampleRate, int channels, int format,
                 std::int64_t frames, const std::function<double(std::int64_t, int)>& sample);

struct DecodedWav {
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<std::int16_t> samples;  // interleaved
};

// A whole sound file as 16-bit samples; nothing when libsndfile cannot open it.
std::optional<DecodedWav> readWav(const std::filesystem::path& file);

// Raw bytes, for hand-made and damaged files.
void writeBytes(const std::filesystem::path& file, const std::string& bytes);

// A fresh, empty folder under $TMPDIR for one test's files.
std::filesystem::path freshTestFolder(const std::string& name);

}  // namespace vurin::test
