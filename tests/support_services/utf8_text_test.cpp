#include "support/text.h"

#include <gtest/gtest.h>

#include <string>

namespace vurin {
namespace {

using namespace std::string_literals;

TEST(Utf8TextTest, ValidUTF8IsStrict) {
    EXPECT_TRUE(isValidUTF8(""));
    EXPECT_TRUE(isValidUTF8("plain ascii\0"s));
    EXPECT_TRUE(isValidUTF8("你好 🎤 é"));
    EXPECT_TRUE(isValidUTF8("\xf4\x8f\xbf\xbf"));  // U+10FFFF

    EXPECT_FALSE(isValidUTF8("\xff"));
    EXPECT_FALSE(isValidUTF8("\xc0\xaf"));          // overlong "/"
    EXPECT_FALSE(isValidUTF8("\xe0\x80\xaf"));      // overlong
    EXPECT_FALSE(isValidUTF8("\xed\xa0\x80"));      // surrogate U+D800
    EXPECT_FALSE(isValidUTF8("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUTF8("ok \xe4\xbd"));       // cut off at the end
    EXPECT_FALSE(isValidUTF8("\x80"));              // stray continuation
}

TEST(Utf8TextTest, TrimsUnicodeWhitespaceAndLineBreaksOnBothEndsOnly) {
    EXPECT_EQ(trimWhitespaceAndNewlines(" 你好。\n"), "你好。");
    EXPECT_EQ(trimWhitespaceAndNewlines("\t\r\n\v\f Hello  world \u3000\u00a0\u2028\u0085"),
              "Hello  world");
    EXPECT_EQ(trimWhitespaceAndNewlines("\u2003\u202f\u205fx\u1680"), "x");
    EXPECT_EQ(trimWhitespaceAndNewlines(" \n\u3000 "), "");
    EXPECT_EQ(trimWhitespaceAndNewlines(""), "");
    // Zero-width space and BOM are not white space.
    EXPECT_EQ(trimWhitespaceAndNewlines("\u200bx\ufeff"), "\u200bx\ufeff");
    // Bytes that are not UTF-8 are kept, only readable blanks go.
    EXPECT_EQ(trimWhitespaceAndNewlines(" \xff a \xfe "), "\xff a \xfe");
}

TEST(Utf8TextTest, PrefixCountsCharactersNotBytes) {
    EXPECT_EQ(utf8Prefix("你好世界", 2), "你好");
    EXPECT_EQ(utf8Prefix("ab🎤cd", 3), "ab🎤");
    EXPECT_EQ(utf8Prefix("short", 200), "short");
    EXPECT_EQ(utf8Prefix("abc", 0), "");
}

}  // namespace
}  // namespace vurin
