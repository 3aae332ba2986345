#include "audio/audio_convert.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
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

void removeQuietly(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
}

}  // namespace

std::unique_ptr<Downsampler16k> Downsampler16k::create(const fs::path& dst, int inputRate,
                                                       int channels, std::string& error) {
    if (inputRate < 1 || channels < 1) {
        error = "无效的音频格式";
        return nullptr;
    }
    SF_INFO info{};
    info.samplerate = kTargetRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndfilePtr output(sf_open(dst.c_str(), SFM_WRITE, &info));
    if (!output) {
        error = sf_strerror(nullptr);
        return nullptr;
    }
    ResamplerPtr resampler = makeResampler(inputRate);
    if (!resampler) {
        output.reset();
        removeQuietly(dst);
        error = "无法建立 " + std::to_string(inputRate) + "Hz → 16000Hz 转换";
        return nullptr;
    }
    auto made = std::unique_ptr<Downsampler16k>(new Downsampler16k());
    made->dst_ = dst;
    made->file_ = output.release();
    made->resampler_ = resampler.release();
    made->channels_ = channels;
    const double ratio = static_cast<double>(kTargetRate) / inputRate;
    made->mono_.resize(static_cast<std::size_t>(kChunkFrames));
    made->output_.resize(
        std::min(static_cast<std::size_t>(ratio * kChunkFrames), kMaxOutputFrames) +
        kOutputMarginFrames);
    return made;
}

Downsampler16k::~Downsampler16k() {
    finish();
}

void Downsampler16k::append(const float* interleaved, std::size_t frames) {
    const auto channels = static_cast<std::size_t>(channels_);
    while (file_ != nullptr && !failed_ && frames > 0) {
        const std::size_t chunk = std::min(frames, mono_.size());
        // The channels averaged, NaN and infinities silenced.
        for (std::size_t frame = 0; frame < chunk; ++frame) {
            float sum = 0.0f;
            for (std::size_t channel = 0; channel < channels; ++channel) {
                const float value = interleaved[frame * channels + channel];
                sum += std::isfinite(value) ? value : 0.0f;
            }
            mono_[frame] = sum / static_cast<float>(channels);
        }
        resample(chunk);
        interleaved += chunk * channels;
        frames -= chunk;
    }
}

// Offers every frame once; the resampler may take them over several calls when the output
// buffer fills.
void Downsampler16k::resample(std::size_t frames) {
    const float* pending = mono_.data();
    while (frames > 0 && !failed_) {
        std::size_t used = 0;
        std::size_t produced = 0;
        if (soxr_process(static_cast<soxr_t>(resampler_), pending, frames, &used, output_.data(),
                         output_.size(), &produced) != nullptr) {
            failed_ = true;  // a failed resampler holds nothing trustworthy to flush
            return;
        }
        write(produced);
        if (used == 0 && produced == 0) {
            failed_ = true;  // no progress: never loop forever on a confused resampler
            return;
        }
        pending += used;
        frames -= used;
    }
}

// Counts only what reached the file, so the duration never claims audio that is missing.
void Downsampler16k::write(std::size_t frames) {
    if (frames == 0) {
        return;
    }
    const auto wanted = static_cast<sf_count_t>(frames);
    const sf_count_t stored = sf_writef_short(static_cast<SNDFILE*>(file_), output_.data(), wanted);
    if (stored > 0) {
        written_ += stored;
        for (sf_count_t i = 0; i < stored; ++i) {
            peakSample_ = std::max(peakSample_, std::abs(static_cast<int>(output_[i])));
        }
    }
    if (stored != wanted && writeError_.empty()) {
        writeError_ = sf_strerror(static_cast<SNDFILE*>(file_));  // a full disk, say
    }
}

double Downsampler16k::finish() {
    if (file_ == nullptr) {
        return seconds_;
    }
    // End of input: the resampler still holds up to a filter length of audio.
    while (!failed_) {
        std::size_t used = 0;
        std::size_t produced = 0;
        if (soxr_process(static_cast<soxr_t>(resampler_), nullptr, 0, &used, output_.data(),
                         output_.size(), &produced) != nullptr ||
            produced == 0) {
            break;
        }
        write(produced);
    }
    soxr_delete(static_cast<soxr_t>(resampler_));
    resampler_ = nullptr;
    // Closing writes the final header.
    if (sf_close(static_cast<SNDFILE*>(file_)) != 0 && writeError_.empty()) {
        writeError_ = "无法写完录音文件";
    }
    file_ = nullptr;
    if (written_ == 0) {
        removeQuietly(dst_);
    }
    seconds_ = static_cast<double>(written_) / kTargetRate;
    return seconds_;
}

double downsampleTo16k(const fs::path& source, const fs::path& dst) {
    SF_INFO sourceInfo{};
    SndfilePtr input(sf_open(source.c_str(), SFM_READ, &sourceInfo));
    if (!input || sourceInfo.channels < 1 || sourceInfo.samplerate < 1) {
        log("❌ 读不到录音文件");
        return 0;
    }
    std::string error;
    const auto converter =
        Downsampler16k::create(dst, sourceInfo.samplerate, sourceInfo.channels, error);
    if (!converter) {
        log("❌ 无法建立 " + std::to_string(sourceInfo.samplerate) + "Hz → 16000Hz 转换");
        return 0;
    }
    const sf_count_t chunkFrames =
        std::clamp<sf_count_t>(kMaxChunkSamples / sourceInfo.channels, 1, kChunkFrames);
    std::vector<float> interleaved(static_cast<std::size_t>(chunkFrames * sourceInfo.channels));
    for (;;) {
        const sf_count_t frames = sf_readf_float(input.get(), interleaved.data(), chunkFrames);
        if (frames <= 0) {
            break;
        }
        converter->append(interleaved.data(), static_cast<std::size_t>(frames));
    }
    return converter->finish();
}

}  // namespace vurin
