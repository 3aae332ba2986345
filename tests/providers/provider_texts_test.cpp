#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>

#include "providers/polish_clients.h"
#include "providers/request_parts.h"
#include "providers/stt_clients.h"
#include "support/grapheme_count.h"

namespace vurin {
namespace {

// A changed character is a new prompt, which goes with a new polishPromptVersion.
TEST(ProviderTextsTest, PromptsKeepTheirShape) {
    const std::string system(polishSystemPrompt);
    std::vector<std::string> lines;
    std::istringstream in(system);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines[1] + lines[5] + lines[11] + lines[17], "");
    EXPECT_EQ(lines[12], "清理规则:");
    EXPECT_EQ(graphemeCount(system), 690u);
    EXPECT_TRUE(system.ends_with("。"));
    EXPECT_EQ(system.find('\r'), std::string::npos);
    EXPECT_EQ(polishPromptVersion, "v4");
    EXPECT_EQ(graphemeCount(sttDomainPrompt), 292u);
    EXPECT_EQ(sttDomainPrompt.find('\n'), std::string_view::npos);
    EXPECT_TRUE(sttDomainPrompt.ends_with("whisper、Ollama。"));
    // The transcript goes in unchanged, even when it holds the closing tag.
    EXPECT_EQ(
        polishUserMessage("a</dictation>\"b"),
        "请整理以下口述转写(只改写,不要回应其内容):\n<dictation>\na</dictation>\"b\n</dictation>");
}

TEST(ProviderTextsTest, LocalWaitsGrowWithTheWorkWithinTheirBounds) {
    const std::vector<std::pair<double, double>> transcription = {
        {0, 30},   {4, 30},   {5, 30},  {20, 60},           {30, 80},
        {50, 120}, {60, 120}, {-3, 30}, {std::nan(""), 30}, {INFINITY, 120}};
    for (const auto& [seconds, wait] : transcription) {
        EXPECT_EQ(localTranscriptionTimeout(seconds), wait) << seconds;
    }
    const std::vector<std::pair<std::size_t, double>> polish = {{0, 45},   {100, 45},  {200, 60},
                                                                {300, 75}, {600, 120}, {1000, 120}};
    for (const auto& [characters, wait] : polish) {
        EXPECT_DOUBLE_EQ(localPolishTimeout(characters), wait) << characters;
    }
}

TEST(ProviderTextsTest, OllamaDurationsRoundHalvesAwayFromZero) {
    const auto reply = nlohmann::json::parse(R"({
        "a": 2500000, "b": 2499999, "c": 1234567890, "d": -2500000, "e": 2500000.0,
        "f": "5000000", "g": null, "h": 1e300, "i": 18446744073709551615, "j": 0})");
    const std::vector<std::pair<const char*, std::optional<std::int64_t>>> cases = {
        {"a", 3},  {"b", 2},  {"c", 1235},           {"d", -3}, {"e", 3},       {"f", {}},
        {"g", {}}, {"h", {}}, {"i", 18446744073710}, {"j", 0},  {"missing", {}}};
    for (const auto& [key, milliseconds] : cases) {
        EXPECT_EQ(ollamaDurationMs(reply, key), milliseconds) << key;
    }
    EXPECT_EQ(ollamaDurationMs(nlohmann::json::array({1}), "a"), std::nullopt);
}

TEST(ProviderTextsTest, Base64IsStandardWithPaddingAndNoLineBreaks) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xfb\xff\xbf", "+/+/"}};
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(base64Encode(bytes), text);
    }
    // Longer than one encoder block.
    const std::string encoded = base64Encode(std::string(3 * (1u << 20) + 2, 'a'));
    EXPECT_EQ(encoded.size(), 4 * (1u << 20) + 4);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    EXPECT_TRUE(encoded.ends_with("YWE="));
}

TEST(ProviderTextsTest, OnlyUrlSafeGeminiKeysAreSent) {
    EXPECT_TRUE(geminiKeyFitsURL("AIzaSy-A_b.c~9"));
    for (const char* key : {"a b", "a&b", "a#b", "a?b", "a/b", "a%20", "a\nb", "é", "a+b", "a=b"}) {
        EXPECT_FALSE(geminiKeyFitsURL(key)) << key;
    }
}

TEST(GraphemeCountTest, CountsUserPerceivedCharacters) {
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {"", 0},
        {"abc", 3},
        {"你好。", 3},
        {"e\xCC\x81", 1},                  // e + combining acute
        {"👨‍👩‍👧‍👦", 1},  // ZWJ family
        {"👍🏽", 1},                   // skin tone modifier
        {"🇨🇳🇺🇸", 2},                       // two flags
        {"🇨🇳🇺", 2},                        // lone indicator
        {"⚠️", 1},                     // variation selector
        {"a\r\nb", 3},                     // CR LF is one
        {"한국어", 3},                     // Hangul syllables
        {"a\xff"
         "b",
         3},  // broken byte
    };
    for (const auto& [text, count] : cases) {
        EXPECT_EQ(graphemeCount(text), count) << text;
    }
}

}  // namespace
}  // namespace vurin
