#pragma once

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <vector>

#include "support/wav_files.h"

namespace vurin::test {

// 16 kHz mono samples; empty when the file cannot be read or is not mono.
inline std::vector<double> monoSamples(const std::filesystem::path& file) {
    const auto wav = readWav(file);
    return wav && wav->channels == 1 ? std::vector<double>(wav->samples.begin(), wav->samples.end())
                                     : std::vector<double>();
}

// The loudness of every 10 ms frame, which survives resampling and playback drift, mean removed.
inline std::vector<double> envelope(const std::vector<double>& x) {
    std::vector<double> out(x.size() / 160);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double* frame = x.data() + i * 160;
        out[i] = std::sqrt(std::inner_product(frame, frame + 160, frame, 0.0) / 160);
    }
    const double mean =
        std::accumulate(out.begin(), out.end(), 0.0) / std::max<std::size_t>(out.size(), 1);
    for (auto& value : out) {
        value -= mean;
    }
    return out;
}

struct Alignment {
    std::size_t lag = 0;  // where the reference starts, in samples of the padded recording
    double correlation = -1;
};

// Where the reference's loudness best follows the recording padded by 4800 zeros each side.
inline Alignment loudnessAlignment(const std::vector<double>& reference,
                                   const std::vector<double>& recorded) {
    std::vector<double> padded(4800, 0.0);
    padded.insert(padded.end(), recorded.begin(), recorded.end());
    padded.insert(padded.end(), 4800, 0.0);
    const auto ref = envelope(reference);
    const auto signal = envelope(padded);
    const double refNorm = std::inner_product(ref.begin(), ref.end(), ref.begin(), 0.0);
    Alignment best;
    for (std::size_t lag = 0; lag + ref.size() <= signal.size(); ++lag) {
        const auto at = signal.begin() + static_cast<std::ptrdiff_t>(lag);
        const double dot = std::inner_product(ref.begin(), ref.end(), at, 0.0);
        const double norm = std::sqrt(refNorm * std::inner_product(at, at + ref.size(), at, 0.0));
        if (norm > 0 && dot / norm > best.correlation) {
            best = {lag * 160, dot / norm};
        }
    }
    return best;
}

}  // namespace vurin::test
