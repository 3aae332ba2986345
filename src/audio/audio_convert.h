#pragma once

#include <filesystem>

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

}  // namespace vurin
