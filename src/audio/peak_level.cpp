#include "audio/peak_level.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

namespace vurin {

namespace {

constexpr float kNothingToMeasure = -120.0f;
// Data is read in blocks so an unexpectedly large file never has to fit in memory.
constexpr std::size_t kBlockBytes = 64 * 1024;

struct DataRange {
    std::uint64_t start = 0;
    std::uint64_t limit = 0;
};

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool readAt(std::ifstream& file, std::uint64_t offset, unsigned char* into, std::size_t count) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(file.gcount()) == count;
}

// Walks the chunk list from byte 12; gives the byte range of the "data" payload, clamped to
// the file, or nothing when the list ends (or breaks off) before a "data" chunk.
std::optional<DataRange> findData(std::ifstream& file, std::uint64_t fileLength) {
    std::uint64_t pos = 12;
    for (;;) {
        unsigned char header[8];
        if (fileLength < pos + 8 || !readAt(file, pos, header, sizeof header)) {
            return std::nullopt;
        }
        const std::uint64_t size = littleEndian32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            const std::uint64_t start = pos + 8;
            return DataRange{start, std::min(fileLength, start + size)};
        }
        pos += 8 + size + (size & 1);
    }
}

// The largest sample magnitude as a whole number, so -32768 counts as 32768.
std::optional<int> peakSample(std::ifstream& file, DataRange range) {
    int peak = 0;
    std::vector<unsigned char> block(kBlockBytes);
    std::uint64_t pos = range.start;
    while (pos + 1 < range.limit) {
        // Whole samples only; a block size that is even keeps pairs aligned.
        const std::uint64_t available = (range.limit - pos) & ~std::uint64_t{1};
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(available, kBlockBytes));
        if (!readAt(file, pos, block.data(), count)) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i + 1 < count; i += 2) {
            const auto sample = static_cast<std::int16_t>(block[i] | block[i + 1] << 8);
            peak = std::max(peak, std::abs(static_cast<int>(sample)));
        }
        pos += count;
    }
    return peak;
}

}  // namespace

float peakDBFS(const std::filesystem::path& ofWav) {
    std::error_code error;
    const std::uintmax_t fileLength = std::filesystem::file_size(ofWav, error);
    if (error || fileLength < 13) {
        return kNothingToMeasure;
    }
    std::ifstream file(ofWav, std::ios::binary);
    if (!file) {
        return kNothingToMeasure;
    }
    const std::optional<DataRange> data = findData(file, fileLength);
    if (!data) {
        return kNothingToMeasure;
    }
    const std::optional<int> peak = peakSample(file, *data);
    if (!peak || *peak == 0) {
        return kNothingToMeasure;
    }
    return 20.0f * std::log10(static_cast<float>(*peak) / 32768.0f);
}

}  // namespace vurin
