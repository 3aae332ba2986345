#include "support/text.h"

#include <gtest/gtest.h>

#include <string>

namespace vurin {
namespace {

using namespace std::string_literals;

struct Case {
    std::string in;
    std::string out;
};

TEST(TextTest, CollapseToSingleLine) {
    // clang-format off
    const Case cases[] = {
        {"  Hello\r\n\r\n  world \n", "Hello world"}, {"a\rb", "a b"}, {"a\r\nb\n\n\nc", "a b c"},
        {"\t第一行\t\n\t第二行", "第一行 第二行"}, {"one line", "one line"}, {"", ""},
        // Inner runs of spaces stay.
        {"a  b", "a  b"}, {"a \t b\n c  d ", "a \t b c  d"}, {"x\u00A0\u00A0y", "x\u00A0\u00A0y"},
        // Only blanks and breaks leave nothing; other line breaks are trimmed at the edges only.
        {" \t\r\n\u3000\n\u00A0 ", ""}, {"\n\n\r", ""}, {"\u2028", ""}, {"\v\f", ""},
        {"a\u2028b", "a\u2028b"}, {"\u2029a\nb\u0085", "a b"}, {"\va\vb\v", "a\vb"},
        // Zero-width space and BOM are no spaces, nor is an overlong space; non-UTF-8 passes.
        {"\u200Bx\uFEFF", "\u200Bx\uFEFF"}, {" 👍🏽 ok ", "👍🏽 ok"}, {"\xc0\xa0x", "\xc0\xa0x"},
        {" \xff a \xe3\x80 \n", "\xff a \xe3\x80"}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(collapseToSingleLine(c.in), c.out) << c.in;
    }
    for (const char* space : {" ", "\t", "\u00A0", "\u1680", "\u2000", "\u2005", "\u200A", "\u202F",
                              "\u205F", "\u3000"}) {
        const std::string text = std::string(space) + "你好" + space + "\n" + space + "b" + space;
        EXPECT_EQ(collapseToSingleLine(text), "你好 b") << text;
    }
}

TEST(TextTest, TrimWhitespaceAndNewlinesOnBothEndsOnly) {
    // clang-format off
    const Case cases[] = {
        {" 你好。\n", "你好。"}, {"\t\r\n\v\f Hello  world \u3000\u00a0\u2028\u0085", "Hello  world"},
        {"\u2003\u202f\u205fx\u1680", "x"}, {" \n\u3000 ", ""}, {"", ""},
        {"\u200bx\ufeff", "\u200bx\ufeff"}, {" \xff a \xfe ", "\xff a \xfe"}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(trimWhitespaceAndNewlines(c.in), c.out) << c.in;
    }
}

TEST(TextTest, ValidUTF8IsStrict) {
    for (const std::string& valid : {""s, "plain ascii\0"s, "你好 🎤 é"s, "\xf4\x8f\xbf\xbf"s}) {
        EXPECT_TRUE(isValidUTF8(valid)) << valid;
    }
    // Stray bytes, overlong forms, a surrogate, above U+10FFFF, cut off, a lone continuation.
    for (const char* invalid : {"\xff", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                                "\xf4\x90\x80\x80", "ok \xe4\xbd", "\x80"}) {
        EXPECT_FALSE(isValidUTF8(invalid)) << invalid;
    }
}

TEST(TextTest, PrefixCountsCharactersNotBytes) {
    EXPECT_EQ(utf8Prefix("你好世界", 2), "你好");
    EXPECT_EQ(utf8Prefix("ab🎤cd", 3), "ab🎤");
    EXPECT_EQ(utf8Prefix("short", 200), "short");
    EXPECT_EQ(utf8Prefix("abc", 0), "");
}

}  // namespace
}  // namespace vurin
