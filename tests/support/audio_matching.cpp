#include "support/audio_matching.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "support/wav_files.h"

namespace vurin::test {

namespace {

// The loudness of every `frame`-sample frame, mean removed.
std::vector<double> envelope(const std::vector<double>& x, std::size_t frame) {
    std::vector<double> out(x.size() / frame);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = std::sqrt(energy(x, i * frame, frame) / static_cast<double>(frame));
    }
    const double mean = out.empty() ? 0 : std::accumulate(out.begin(), out.end(), 0.0) / out.size();
    for (auto& value : out) {
        value -= mean;
    }
    return out;
}

}  // namespace

std::vector<double> monoSamples(const std::filesystem::path& file) {
    const auto wav = readWav(file);
    if (!wav || wav->channels != 1) {
        return {};
    }
    return {wav->samples.begin(), wav->samples.end()};
}

double energy(const std::vector<double>& x, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        sum += x[i] * x[i];
    }
    return sum;
}

std::size_t speechEnd(const std::vector<double>& x, double threshold) {
    for (std::size_t i = x.size(); i > 0; --i) {
        if (std::abs(x[i - 1]) > threshold) {
            return i;
        }
    }
    return 0;
}

Alignment loudnessAlignment(const std::vector<double>& reference,
                            const std::vector<double>& recorded) {
    constexpr std::size_t kPad = 4800;
    constexpr std::size_t kFrame = 160;
    std::vector<double> padded(kPad, 0.0);
    padded.insert(padded.end(), recorded.begin(), recorded.end());
    padded.insert(padded.end(), kPad, 0.0);
    const auto ref = envelope(reference, kFrame);
    const auto signal = envelope(padded, kFrame);
    // The normalised cross-correlation at every lag where the reference fits whole.
    Alignment best;
    for (std::size_t lag = 0; lag + ref.size() <= signal.size(); ++lag) {
        double dot = 0;
        for (std::size_t i = 0; i < ref.size(); ++i) {
            dot += ref[i] * signal[lag + i];
        }
        const double norm = std::sqrt(energy(ref, 0, ref.size()) * energy(signal, lag, ref.size()));
        if (norm > 0 && dot / norm > best.correlation) {
            best = {lag * kFrame, dot / norm};
        }
    }
    return best;
}

}  // namespace vurin::test
