#pragma once

#include <filesystem>

namespace vurin {

// Peak level of a 16-bit PCM WAV file in dBFS: 20·log10(peak / 32768), so full scale (including
// a sample of -32768) gives 0. The chunk list is walked from byte 12 to the "data" chunk (odd
// chunk sizes are followed by a pad byte); a data size larger than the file is clamped to the
// bytes present and an odd trailing byte is ignored. The format chunk is not examined.
// Gives -120 for a missing, unreadable or short file, a file without "data", and silence.
float peakDBFS(const std::filesystem::path& ofWav);

}  // namespace vurin
