#include "audio/recording_files.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <system_error>

namespace vurin {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = "vurin-";

std::array<std::uint8_t, 16> randomBytes() {
    // std::random_device reads the kernel's generator (getrandom) on Linux.
    std::random_device device;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const std::uint32_t word = device();
        for (std::size_t k = 0; k < 4; ++k) {
            bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
        }
    }
    return bytes;
}

// Seconds since `entry` was last modified, or nothing when the time cannot be read.
std::optional<double> ageOf(const fs::directory_entry& entry, fs::file_time_type now) {
    std::error_code error;
    const fs::file_time_type modified = entry.last_write_time(error);
    if (error) {
        return std::nullopt;
    }
    return std::chrono::duration<double>(now - modified).count();
}

// Compared as an age rather than against now - olderThan, so an infinite or NaN age limit
// deletes nothing instead of overflowing the clock.
bool isStale(const fs::directory_entry& entry, fs::file_time_type now, double olderThan) {
    const std::optional<double> age = ageOf(entry, now);
    return !age || *age > olderThan;
}

}  // namespace

fs::path recordingDirectory() {
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && *tmpdir != '\0') {
        return fs::path(tmpdir);
    }
    return fs::path("/tmp");
}

std::string makeUUIDString() {
    std::array<std::uint8_t, 16> bytes = randomBytes();
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    return text;
}

fs::path makeFileURL() {
    return recordingDirectory() / (std::string(kPrefix) + makeUUIDString() + ".wav");
}

bool isRecordingFileName(std::string_view fileName) {
    if (!fileName.starts_with(kPrefix)) {
        return false;
    }
    const std::size_t dot = fileName.rfind('.');
    return dot != std::string_view::npos && fileName.substr(dot + 1) == "wav";
}

void cleanupStaleRecordingFiles(double olderThan) {
    std::error_code error;
    fs::directory_iterator entries(recordingDirectory(), error);
    if (error) {
        return;
    }
    const fs::file_time_type now = fs::file_time_type::clock::now();
    // Stepped with increment(error): the range-for form throws when the listing fails midway.
    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        const fs::directory_entry& entry = *entries;
        if (isRecordingFileName(entry.path().filename().string()) &&
            isStale(entry, now, olderThan)) {
            // Not remove_all: a folder that happens to carry such a name is not ours to empty.
            std::error_code ignored;
            fs::remove(entry.path(), ignored);
        }
    }
}

}  // namespace vurin
