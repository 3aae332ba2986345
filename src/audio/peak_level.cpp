#include "audio/peak_level.h"

#include <cmath>

namespace vurin {

float dBFSOfPeak(int peakSample) {
    if (peakSample <= 0) {
        return -120.0f;
    }
    return 20.0f * std::log10(static_cast<float>(peakSample) / 32768.0f);
}

}  // namespace vurin
