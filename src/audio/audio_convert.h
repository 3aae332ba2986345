#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vurin {

// Converts a capture file in any format libsndfile reads (any sample type, rate and channel
// count) into `dst`: 16 kHz, mono (channels averaged), 16-bit signed PCM WAV. Works in chunks,
// so memory stays bounded whatever the recording's length, and drains the resampler at the end
// so the last milliseconds are kept.
//
// Gives the seconds of audio in `dst` (frames actually written / 16000), or 0 when nothing
// could be converted; a failure to open either file or to set up the resampler logs one line.
// A destination that ends up without audio is removed rather than left behind.
double downsampleTo16k(const std::filesystem::path& source, const std::filesystem::path& dst);

// The same conversion as the frames come: a recording's file is complete the moment its capture
// ends, instead of being converted then. Interleaved 32-bit float frames of `inputRate` and
// `channels` in, `dst` out. Not thread-safe; one writer at a time.
class Downsampler16k {
  public:
    // Creates (or truncates) `dst`; null, with `error` set, when it or the resampler cannot be
    // made.
    static std::unique_ptr<Downsampler16k> create(const std::filesystem::path& dst, int inputRate,
                                                  int channels, std::string& error);
    ~Downsampler16k();
    Downsampler16k(const Downsampler16k&) = delete;
    Downsampler16k& operator=(const Downsampler16k&) = delete;

    // Ignored after finish() or after the resampler failed.
    void append(const float* interleaved, std::size_t frames);
    // Drains the resampler and completes the file; the seconds it holds (0: none, and the file is
    // removed). Idempotent.
    double finish();
    // The first write failure (a full disk), or empty; what was written before it is kept.
    const std::string& writeError() const { return writeError_; }
    // The largest magnitude among the samples written so far (0 to 32768).
    int peakSample() const { return peakSample_; }

  private:
    Downsampler16k() = default;
    void resample(std::size_t frames);
    void write(std::size_t frames);

    std::filesystem::path dst_;
    void* file_ = nullptr;       // SNDFILE*
    void* resampler_ = nullptr;  // soxr_t
    int channels_ = 1;
    std::vector<float> mono_;
    std::vector<std::int16_t> output_;
    std::int64_t written_ = 0;
    int peakSample_ = 0;
    bool failed_ = false;
    double seconds_ = 0;
    std::string writeError_;
};

}  // namespace vurin
