#pragma once

// Comparing what was recorded with what was played: sample arrays of 16 kHz mono files, their
// loudness, and where one best lines up inside the other.
#include <cstddef>
#include <filesystem>
#include <vector>

namespace vurin::test {

// 16 kHz mono samples as doubles; empty when the file cannot be read or is not mono.
std::vector<double> monoSamples(const std::filesystem::path& file);

// The sum of squares of `count` samples from `from`.
double energy(const std::vector<double>& x, std::size_t from, std::size_t count);

// One past the last sample louder than `threshold` (the end of the speech, not the padding).
std::size_t speechEnd(const std::vector<double>& x, double threshold);

struct Alignment {
    std::size_t lag = 0;  // where the reference starts in the signal, in samples
    double correlation = -1;
};

// How well the recording's loudness follows the reference's, in 10 ms frames (playback timing
// and resampling leave the loudness intact even where the waveforms drift apart by a few
// samples), with the reference allowed to overhang either end of the recording by 0.3 s. The
// lag is in samples of the recording padded by 4800 zeros on each side.
Alignment loudnessAlignment(const std::vector<double>& reference,
                            const std::vector<double>& recorded);

}  // namespace vurin::test
