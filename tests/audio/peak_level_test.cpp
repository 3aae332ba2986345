#include "audio/peak_level.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "support/wav_files.h"

namespace vurin {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string le32(std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
    }
    return bytes;
}

std::string le16(std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    return {static_cast<char>(bits & 0xFF), static_cast<char>(bits >> 8)};
}

std::string pcm(std::initializer_list<std::int16_t> samples) {
    std::string bytes;
    for (std::int16_t sample : samples) {
        bytes += le16(sample);
    }
    return bytes;
}

// A chunk as its size field says, padded to an even length when the payload is odd.
std::string chunk(const std::string& id, const std::string& payload) {
    std::string bytes = id + le32(static_cast<std::uint32_t>(payload.size())) + payload;
    if (payload.size() % 2 == 1) {
        bytes.push_back('\0');
    }
    return bytes;
}

std::string chunkClaiming(const std::string& id, std::uint32_t size, const std::string& payload) {
    return id + le32(size) + payload;
}

const std::string kFmt =
    chunk("fmt ", le16(1) + le16(1) + le32(16000) + le32(32000) + le16(2) + le16(16));

std::string riff(const std::string& chunks) {
    return "RIFF" + le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

class PeakLevelTest : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = test::freshTestFolder("peak-level"); }

    float peakOfBytes(const std::string& bytes) {
        test::writeBytes(folder_ / "file.wav", bytes);
        return peakDBFS(folder_ / "file.wav");
    }
    float peakOfSamples(std::initializer_list<std::int16_t> samples) {
        return peakOfBytes(riff(kFmt + chunk("data", pcm(samples))));
    }

    fs::path folder_;
};

TEST_F(PeakLevelTest, LevelsOfKnownPeaks) {
    EXPECT_EQ(peakOfSamples({0, -32768, 0}), 0.0f);
    EXPECT_NEAR(peakOfSamples({32767}), -0.000265f, 0.00001f);
    EXPECT_NEAR(peakOfSamples({0, 328, -100}), -40.0f, 0.01f);
    EXPECT_NEAR(peakOfSamples({16384}), -6.0206f, 0.001f);
    EXPECT_NEAR(peakOfSamples({1}), -90.309f, 0.001f);
    EXPECT_NEAR(peakOfSamples({0, -1}), -90.309f, 0.001f);
}

TEST_F(PeakLevelTest, SilenceThresholdFallsBetween58And59) {
    // The dictation flow discards recordings below -55 dBFS.
    EXPECT_NEAR(peakOfSamples({58}), -55.04f, 0.01f);
    EXPECT_LT(peakOfSamples({-58}), -55.0f);
    EXPECT_NEAR(peakOfSamples({59}), -54.89f, 0.01f);
    EXPECT_GT(peakOfSamples({-59}), -55.0f);
}

TEST_F(PeakLevelTest, ChunksBeforeDataAreSkippedWithTheirPadByte) {
    // An odd-sized chunk: reading on without its pad byte would miss the "data" identifier.
    EXPECT_NEAR(peakOfBytes(riff(kFmt + chunk("LIST", "abc") + chunk("data", pcm({328})))), -40.0f,
                0.01f);
    EXPECT_NEAR(peakOfBytes(riff(kFmt + chunk("fact", le32(1)) +
                                 chunk("junk", std::string(7, 'x')) + chunk("data", pcm({328})))),
                -40.0f, 0.01f);
    // The format chunk is not examined: data straight after the header is measured too.
    EXPECT_NEAR(peakOfBytes(riff(chunk("data", pcm({328})))), -40.0f, 0.01f);
}

TEST_F(PeakLevelTest, DataSizeLargerThanTheFileIsClamped) {
    EXPECT_NEAR(peakOfBytes(riff(kFmt + chunkClaiming("data", 1000, pcm({0, 12, 328})))), -40.0f,
                0.01f);
    EXPECT_NEAR(peakOfBytes(riff(kFmt + chunkClaiming("data", 0xFFFFFFFF, pcm({328})))), -40.0f,
                0.01f);
}

TEST_F(PeakLevelTest, OddTrailingByteIsIgnored) {
    // Five data bytes: two samples and half of a third that would be full scale.
    EXPECT_NEAR(peakOfBytes(riff(kFmt + chunkClaiming("data", 5, pcm({0, 328}) + "\x80"))), -40.0f,
                0.01f);
    // Data cut off by the end of the file after an odd number of bytes.
    EXPECT_NEAR(peakOfBytes(riff(kFmt + chunkClaiming("data", 64, pcm({328}) + "\x80"))), -40.0f,
                0.01f);
}

TEST_F(PeakLevelTest, SamplesAcrossReadBlocksAreAllMeasured) {
    std::string samples(200000, '\0');  // larger than one read block
    samples += pcm({-9000});
    EXPECT_NEAR(peakOfBytes(riff(kFmt + chunk("data", samples))), -11.22f, 0.01f);
}

TEST_F(PeakLevelTest, NothingToMeasureGivesMinus120) {
    EXPECT_EQ(peakDBFS(folder_ / "missing.wav"), -120.0f);
    EXPECT_EQ(peakDBFS(folder_), -120.0f);  // a folder, not a file
    EXPECT_EQ(peakOfBytes(""), -120.0f);
    EXPECT_EQ(peakOfBytes("RIFF\x04\0\0\0WAVE"s), -120.0f);   // 12 bytes
    EXPECT_EQ(peakOfBytes("RIFF\x04\0\0\0WAVEd"s), -120.0f);  // 13 bytes
    EXPECT_EQ(peakOfBytes(riff(kFmt)), -120.0f);              // no data chunk
    EXPECT_EQ(peakOfBytes(riff(kFmt + "data")), -120.0f);     // broken-off chunk header
    EXPECT_EQ(peakOfBytes(riff(kFmt + chunk("data", ""))), -120.0f);
    EXPECT_EQ(peakOfBytes(riff(kFmt + chunkClaiming("data", 40, ""))), -120.0f);
    EXPECT_EQ(peakOfSamples({0, 0, 0, 0}), -120.0f);
    // A chunk size that points far past the end: the walk stops, nothing wraps around.
    EXPECT_EQ(peakOfBytes(riff(chunkClaiming("LIST", 0xFFFFFFFF, "") + chunk("data", pcm({328})))),
              -120.0f);
    // A lone pad byte: an odd chunk at the end of the file whose pad is missing.
    EXPECT_EQ(peakOfBytes(riff(kFmt + chunkClaiming("LIST", 3, "abc"))), -120.0f);
}

}  // namespace
}  // namespace vurin
