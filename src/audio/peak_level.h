#pragma once

namespace vurin {

// The level of a recording whose loudest 16-bit sample has magnitude `peakSample` (0 to 32768),
// in dBFS: 20·log10(peak / 32768), so full scale (a sample of -32768 included) gives 0. Silence
// gives -120.
float dBFSOfPeak(int peakSample);

}  // namespace vurin
