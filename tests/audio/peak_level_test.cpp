#include "audio/peak_level.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "support/wav_files.h"

namespace vurin {
namespace {

using namespace std::string_literals;

std::string le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
    }
    return out;
}

std::string pcm(std::initializer_list<std::int16_t> samples) {
    std::string bytes;
    for (std::int16_t sample : samples) {
        bytes += le(static_cast<std::uint16_t>(sample), 2);
    }
    return bytes;
}

// A chunk whose size field says `size` (by default the payload's), padded to even length.
std::string chunk(const std::string& id, const std::string& payload, std::int64_t size = -1) {
    const bool claimed = size >= 0;
    std::string bytes = id + le(claimed ? size : payload.size(), 4) + payload;
    return bytes + (!claimed && payload.size() % 2 == 1 ? "\0"s : "");
}

const std::string kFmt =
    chunk("fmt ", le(1, 2) + le(1, 2) + le(16000, 4) + le(32000, 4) + le(2, 2) + le(16, 2));

std::string riff(const std::string& chunks) {
    return "RIFF" + le(4 + chunks.size(), 4) + "WAVE" + chunks;
}

std::string wav(std::initializer_list<std::int16_t> samples) {
    return riff(kFmt + chunk("data", pcm(samples)));
}

TEST(PeakLevelTest, PeakOfTheDataChunk) {
    struct Case {
        const char* what;
        std::string bytes;
        float dbfs;
    };
    const std::string d328 = chunk("data", pcm({328}));
    // clang-format off
    const Case cases[] = {
        {"full scale", wav({0, -32768, 0}), 0.0f},
        {"largest positive", wav({32767}), -0.000265f},
        {"-40 dB", wav({0, 328, -100}), -39.9915f},
        {"half scale", wav({16384}), -6.0206f},
        {"one step", wav({1}), -90.3090f},
        {"one step negative", wav({0, -1}), -90.3090f},
        // The dictation flow discards recordings below -55 dBFS: 58 lies below, 59 above.
        {"58", wav({58}), -55.0404f}, {"-58", wav({-58}), -55.0404f},
        {"59", wav({59}), -54.8920f}, {"-59", wav({-59}), -54.8920f},
        // Reading on without an odd chunk's pad byte would miss the "data" identifier.
        {"odd chunk before data", riff(kFmt + chunk("LIST", "abc") + d328), -39.9915f},
        {"chunks before data", riff(kFmt + chunk("fact", le(1, 4)) + chunk("junk", "xxxxxxx") + d328), -39.9915f},
        {"format chunk not examined", riff(d328), -39.9915f},
        {"data size past the end", riff(kFmt + chunk("data", pcm({0, 12, 328}), 1000)), -39.9915f},
        {"data size huge", riff(kFmt + chunk("data", pcm({328}), 0xFFFFFFFF)), -39.9915f},
        // Half a sample that would be full scale is ignored.
        {"odd data size", riff(kFmt + chunk("data", pcm({0, 328}) + "\x80", 5)), -39.9915f},
        {"cut after an odd byte", riff(kFmt + chunk("data", pcm({328}) + "\x80", 64)), -39.9915f},
        {"across read blocks", riff(kFmt + chunk("data", std::string(200000, '\0') + pcm({-9000}))), -11.2241f},
        // Nothing to measure.
        {"empty file", "", -120.0f},
        {"12 bytes", "RIFF\x04\0\0\0WAVE"s, -120.0f},
        {"13 bytes", "RIFF\x04\0\0\0WAVEd"s, -120.0f},
        {"no data chunk", riff(kFmt), -120.0f},
        {"broken-off chunk header", riff(kFmt + "data"), -120.0f},
        {"empty data", riff(kFmt + chunk("data", "")), -120.0f},
        {"data claimed, none there", riff(kFmt + chunk("data", "", 40)), -120.0f},
        {"digital silence", wav({0, 0, 0, 0}), -120.0f},
        // The walk stops at a size pointing far past the end; nothing wraps around.
        {"chunk size past the end", riff(chunk("LIST", "", 0xFFFFFFFF) + d328), -120.0f},
        {"missing pad byte at the end", riff(kFmt + chunk("LIST", "abc", 3)), -120.0f},
    };
    // clang-format on
    const auto file = test::freshTestFolder("peak-level") / "file.wav";
    for (const auto& c : cases) {
        test::writeBytes(file, c.bytes);
        EXPECT_NEAR(peakDBFS(file), c.dbfs, 0.0001f) << c.what;
    }
    EXPECT_EQ(peakDBFS(file.parent_path() / "missing.wav"), -120.0f);
    EXPECT_EQ(peakDBFS(file.parent_path()), -120.0f);  // a folder, not a file
}

}  // namespace
}  // namespace vurin
