#include "audio/audio_convert.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#include "support/log.h"

namespace vurin {

namespace fs = std::filesystem;

namespace {

constexpr int kTargetRate = 16000;
constexpr sf_count_t kChunkFrames = 16384;
// Keeps a capture with very many channels from needing a huge read buffer.
constexpr sf_count_t kMaxChunkSamples = sf_count_t{1} << 20;
constexpr std::size_t kOutputMarginFrames = 64;
// Bounds the output buffer for extreme up-sampling; the resampler is simply asked again.
constexpr std::size_t kMaxOutputFrames = std::size_t{1} << 18;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

struct ResamplerDeleter {
    void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};
using ResamplerPtr = std::unique_ptr<std::remove_pointer_t<soxr_t>, ResamplerDeleter>;

ResamplerPtr makeResampler(int inputRate) {
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
    // Without dither, digital silence stays exactly zero (the silence check relies on it).
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    soxr_t resampler = soxr_create(inputRate, kTargetRate, 1, &error, &io, &quality, nullptr);
    if (error != nullptr) {
        soxr_delete(resampler);
        return nullptr;
    }
    return ResamplerPtr(resampler);
}

// Streams one open source through the resampler into one open destination.
class ChunkConverter {
  public:
    ChunkConverter(SNDFILE* source, int channels, SNDFILE* dst, soxr_t resampler, double ratio)
        : source_(source), dst_(dst), resampler_(resampler), channels_(channels) {
        chunkFrames_ = std::clamp<sf_count_t>(kMaxChunkSamples / channels, 1, kChunkFrames);
        interleaved_.resize(static_cast<std::size_t>(chunkFrames_ * channels));
        mono_.resize(static_cast<std::size_t>(chunkFrames_));
        const double wanted = ratio * static_cast<double>(chunkFrames_);
        output_.resize(std::min(static_cast<std::size_t>(wanted), kMaxOutputFrames) +
                       kOutputMarginFrames);
    }

    // Converts until the source ends or cannot be read further, then flushes the resampler.
    void run() {
        for (;;) {
            const sf_count_t frames = sf_readf_float(source_, interleaved_.data(), chunkFrames_);
            if (frames <= 0) {
                break;
            }
            if (!resample(downmix(static_cast<std::size_t>(frames)))) {
                return;  // a failed resampler holds nothing trustworthy to flush
            }
        }
        drain();
    }

    sf_count_t framesWritten() const { return written_; }

  private:
    // Averages the channels (silencing NaN and infinities) into mono_; gives the frame count.
    std::size_t downmix(std::size_t frames) {
        const auto channels = static_cast<std::size_t>(channels_);
        for (std::size_t frame = 0; frame < frames; ++frame) {
            float sum = 0.0f;
            for (std::size_t channel = 0; channel < channels; ++channel) {
                const float value = interleaved_[frame * channels + channel];
                sum += std::isfinite(value) ? value : 0.0f;
            }
            mono_[frame] = sum / static_cast<float>(channels);
        }
        return frames;
    }

    // Offers every frame once; the resampler may take them over several calls when the
    // output buffer fills.
    bool resample(std::size_t frames) {
        const float* pending = mono_.data();
        while (frames > 0) {
            std::size_t used = 0;
            std::size_t produced = 0;
            if (soxr_process(resampler_, pending, frames, &used, output_.data(), output_.size(),
                             &produced) != nullptr) {
                return false;
            }
            write(produced);
            if (used == 0 && produced == 0) {
                return false;  // no progress: never loop forever on a confused resampler
            }
            pending += used;
            frames -= used;
        }
        return true;
    }

    // End of input: the resampler still holds up to a filter length of audio.
    void drain() {
        for (;;) {
            std::size_t used = 0;
            std::size_t produced = 0;
            if (soxr_process(resampler_, nullptr, 0, &used, output_.data(), output_.size(),
                             &produced) != nullptr ||
                produced == 0) {
                return;
            }
            write(produced);
        }
    }

    // Counts only what reached the file, so the duration never claims audio that is missing.
    void write(std::size_t frames) {
        if (frames == 0) {
            return;
        }
        const sf_count_t stored =
            sf_writef_short(dst_, output_.data(), static_cast<sf_count_t>(frames));
        if (stored > 0) {
            written_ += stored;
        }
    }

    SNDFILE* source_;
    SNDFILE* dst_;
    soxr_t resampler_;
    int channels_;
    sf_count_t chunkFrames_ = kChunkFrames;
    std::vector<float> interleaved_;
    std::vector<float> mono_;
    std::vector<std::int16_t> output_;
    sf_count_t written_ = 0;
};

void removeQuietly(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
}

}  // namespace

double downsampleTo16k(const fs::path& source, const fs::path& dst) {
    SF_INFO sourceInfo{};
    SndfilePtr input(sf_open(source.c_str(), SFM_READ, &sourceInfo));
    if (!input || sourceInfo.channels < 1 || sourceInfo.samplerate < 1) {
        log("❌ 读不到录音文件");
        return 0;
    }

    SF_INFO dstInfo{};
    dstInfo.samplerate = kTargetRate;
    dstInfo.channels = 1;
    dstInfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndfilePtr output(sf_open(dst.c_str(), SFM_WRITE, &dstInfo));
    ResamplerPtr resampler = output ? makeResampler(sourceInfo.samplerate) : nullptr;
    if (!output || !resampler) {
        log("❌ 无法建立 " + std::to_string(sourceInfo.samplerate) + "Hz → 16000Hz 转换");
        if (output) {
            output.reset();
            removeQuietly(dst);
        }
        return 0;
    }

    const double ratio = static_cast<double>(kTargetRate) / sourceInfo.samplerate;
    ChunkConverter converter(input.get(), sourceInfo.channels, output.get(), resampler.get(),
                             ratio);
    converter.run();
    output.reset();  // closing writes the final header
    if (converter.framesWritten() == 0) {
        removeQuietly(dst);
        return 0;
    }
    return static_cast<double>(converter.framesWritten()) / kTargetRate;
}

}  // namespace vurin
