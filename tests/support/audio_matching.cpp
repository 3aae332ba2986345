#include "support/audio_matching.h"

#include <algorithm>
#include <cmath>

#include "support/wav_files.h"

namespace vurin::test {

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

double correlationAt(const std::vector<double>& reference, const std::vector<double>& signal,
                     std::size_t lag) {
    double dot = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        dot += reference[i] * signal[lag + i];
    }
    const double norm =
        std::sqrt(energy(reference, 0, reference.size()) * energy(signal, lag, reference.size()));
    return norm > 0 ? dot / norm : 0.0;
}

std::vector<double> envelope(const std::vector<double>& x, std::size_t frame) {
    std::vector<double> out(x.size() / frame);
    double mean = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = std::sqrt(energy(x, i * frame, frame) / static_cast<double>(frame));
        mean += out[i];
    }
    mean /= static_cast<double>(std::max<std::size_t>(out.size(), 1));
    for (auto& value : out) {
        value -= mean;
    }
    return out;
}

Alignment bestAlignment(const std::vector<double>& reference, const std::vector<double>& signal,
                        std::size_t from, std::size_t to) {
    Alignment best;
    for (std::size_t lag = from; lag <= to && lag + reference.size() <= signal.size(); ++lag) {
        const double c = correlationAt(reference, signal, lag);
        if (c > best.correlation) {
            best = {lag, c};
        }
    }
    return best;
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
    const auto coarse = bestAlignment(envelope(reference, kFrame), envelope(padded, kFrame), 0,
                                      padded.size() / kFrame);
    return {coarse.lag * kFrame, coarse.correlation};
}

}  // namespace vurin::test
