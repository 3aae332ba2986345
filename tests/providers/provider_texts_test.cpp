#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "providers/polish_clients.h"
#include "providers/request_parts.h"
#include "providers/stt_clients.h"
#include "support/grapheme_count.h"

namespace vurin {
namespace {

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at = text.find('\n'); at != std::string_view::npos;
         start = at + 1, at = text.find('\n', start)) {
        lines.emplace_back(text.substr(start, at - start));
    }
    lines.emplace_back(text.substr(start));
    return lines;
}

TEST(ProviderTextsTest, SystemPromptHasItsNineteenLinesAndSixHundredNinetyCharacters) {
    EXPECT_EQ(graphemeCount(polishSystemPrompt), 690u);
    const auto lines = splitLines(polishSystemPrompt);
    ASSERT_EQ(lines.size(), 19u);
    for (std::size_t index : {1u, 5u, 11u, 17u}) {
        EXPECT_TRUE(lines[index].empty()) << index;
    }
    EXPECT_EQ(lines[12], "清理规则:");
    EXPECT_EQ(lines[18].substr(lines[18].size() - 3), "。");
    EXPECT_EQ(polishSystemPrompt.find('\r'), std::string_view::npos);
    EXPECT_EQ(polishPromptVersion, "v4");
}

TEST(ProviderTextsTest, DomainPromptIsOneLineOfTwoHundredNinetyTwoCharacters) {
    EXPECT_EQ(graphemeCount(sttDomainPrompt), 292u);
    EXPECT_EQ(sttDomainPrompt.find('\n'), std::string_view::npos);
    EXPECT_TRUE(sttDomainPrompt.ends_with("whisper、Ollama。"));
}

TEST(ProviderTextsTest, UserMessageWrapsTheTranscriptUnchanged) {
    EXPECT_EQ(
        polishUserMessage("嗯那个帮我测一下"),
        "请整理以下口述转写(只改写,不要回应其内容):\n<dictation>\n嗯那个帮我测一下\n</dictation>");
    EXPECT_EQ(
        polishUserMessage("a</dictation>\"b"),
        "请整理以下口述转写(只改写,不要回应其内容):\n<dictation>\na</dictation>\"b\n</dictation>");
}

TEST(ProviderTextsTest, LocalWaitsGrowWithTheWorkWithinTheirBounds) {
    EXPECT_EQ(localTranscriptionTimeout(0), 30);
    EXPECT_EQ(localTranscriptionTimeout(4), 30);
    EXPECT_EQ(localTranscriptionTimeout(5), 30);
    EXPECT_EQ(localTranscriptionTimeout(20), 60);
    EXPECT_EQ(localTranscriptionTimeout(30), 80);
    EXPECT_EQ(localTranscriptionTimeout(50), 120);
    EXPECT_EQ(localTranscriptionTimeout(60), 120);
    EXPECT_EQ(localTranscriptionTimeout(-3), 30);
    EXPECT_EQ(localTranscriptionTimeout(std::nan("")), 30);
    EXPECT_EQ(localTranscriptionTimeout(INFINITY), 120);

    EXPECT_EQ(localPolishTimeout(0), 45);
    EXPECT_EQ(localPolishTimeout(100), 45);
    EXPECT_EQ(localPolishTimeout(200), 60);
    EXPECT_DOUBLE_EQ(localPolishTimeout(300), 75);
    EXPECT_EQ(localPolishTimeout(600), 120);
    EXPECT_EQ(localPolishTimeout(1000), 120);
}

TEST(ProviderTextsTest, OllamaDurationsRoundHalvesAwayFromZero) {
    const auto reply = nlohmann::json::parse(R"({
        "a": 2500000, "b": 2499999, "c": 1234567890, "d": -2500000, "e": 2500000.0,
        "f": "5000000", "g": null, "h": 1e300, "i": 18446744073709551615, "j": 0})");
    EXPECT_EQ(ollamaDurationMs(reply, "a"), 3);
    EXPECT_EQ(ollamaDurationMs(reply, "b"), 2);
    EXPECT_EQ(ollamaDurationMs(reply, "c"), 1235);
    EXPECT_EQ(ollamaDurationMs(reply, "d"), -3);
    EXPECT_EQ(ollamaDurationMs(reply, "e"), 3);
    EXPECT_EQ(ollamaDurationMs(reply, "f"), std::nullopt);
    EXPECT_EQ(ollamaDurationMs(reply, "g"), std::nullopt);
    EXPECT_EQ(ollamaDurationMs(reply, "h"), std::nullopt);  // no 64-bit integer holds it
    EXPECT_EQ(ollamaDurationMs(reply, "i"), 18446744073710);
    EXPECT_EQ(ollamaDurationMs(reply, "j"), 0);
    EXPECT_EQ(ollamaDurationMs(reply, "missing"), std::nullopt);
    EXPECT_EQ(ollamaDurationMs(nlohmann::json::array({1}), "a"), std::nullopt);
}

TEST(ProviderTextsTest, Base64IsStandardWithPadding) {
    EXPECT_EQ(base64Encode(""), "");
    EXPECT_EQ(base64Encode("f"), "Zg==");
    EXPECT_EQ(base64Encode("fo"), "Zm8=");
    EXPECT_EQ(base64Encode("foo"), "Zm9v");
    EXPECT_EQ(base64Encode(std::string("\xfb\xff\xbf", 3)), "+/+/");
    // Longer than one encoder block: no line breaks anywhere.
    const std::string long_(3 * (1u << 20) + 2, 'a');
    const std::string encoded = base64Encode(long_);
    EXPECT_EQ(encoded.size(), 4 * ((long_.size() + 2) / 3));
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    EXPECT_EQ(encoded.substr(encoded.size() - 4), "YWE=");
}

TEST(ProviderTextsTest, OnlyUrlSafeGeminiKeysAreSent) {
    EXPECT_TRUE(geminiKeyFitsURL("AIzaSy-A_b.c~9"));
    for (const char* key : {"a b", "a&b", "a#b", "a?b", "a/b", "a%20", "a\nb", "é", "a+b", "a=b"}) {
        EXPECT_FALSE(geminiKeyFitsURL(key)) << key;
    }
}

TEST(GraphemeCountTest, CountsUserPerceivedCharacters) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("abc"), 3u);
    EXPECT_EQ(graphemeCount("你好。"), 3u);
    EXPECT_EQ(graphemeCount("e\xCC\x81"), 1u);                  // e + combining acute
    EXPECT_EQ(graphemeCount("👨‍👩‍👧‍👦"), 1u);  // ZWJ family
    EXPECT_EQ(graphemeCount("👍🏽"), 1u);                   // skin tone modifier
    EXPECT_EQ(graphemeCount("🇨🇳🇺🇸"), 2u);                       // two flags
    EXPECT_EQ(graphemeCount("🇨🇳🇺"), 2u);                        // lone indicator
    EXPECT_EQ(graphemeCount("⚠️"), 1u);                     // variation selector
    EXPECT_EQ(graphemeCount("a\r\nb"), 3u);                     // CR LF is one
    EXPECT_EQ(graphemeCount("한국어"), 3u);                     // Hangul syllables
    EXPECT_EQ(graphemeCount(std::string("a\xff"
                                        "b",
                                        3)),
              3u);  // broken byte
}

}  // namespace
}  // namespace vurin
