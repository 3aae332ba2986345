#include "support/text.h"

#include <gtest/gtest.h>

namespace vurin {
namespace {

TEST(CollapseToSingleLine, JoinsTrimmedLinesWithOneSpace) {
    EXPECT_EQ(collapseToSingleLine("  Hello\r\n\r\n  world \n"), "Hello world");
    EXPECT_EQ(collapseToSingleLine("a\rb"), "a b");
    EXPECT_EQ(collapseToSingleLine("a\r\nb\n\n\nc"), "a b c");
    EXPECT_EQ(collapseToSingleLine("\t第一行\t\n\t第二行"), "第一行 第二行");
    EXPECT_EQ(collapseToSingleLine("one line"), "one line");
    EXPECT_EQ(collapseToSingleLine(""), "");
}

TEST(CollapseToSingleLine, KeepsInnerRunsOfSpaces) {
    EXPECT_EQ(collapseToSingleLine("a  b"), "a  b");
    EXPECT_EQ(collapseToSingleLine("a \t b\n c  d "), "a \t b c  d");
    EXPECT_EQ(collapseToSingleLine("x\u00A0\u00A0y"), "x\u00A0\u00A0y");
}

TEST(CollapseToSingleLine, TrimsEveryUnicodeSpaceSeparator) {
    const char* spaces[] = {" ",      "\t",     "\u00A0", "\u1680", "\u2000",
                            "\u2005", "\u200A", "\u202F", "\u205F", "\u3000"};
    for (const char* space : spaces) {
        const std::string text = std::string(space) + "你好" + space + "\n" + space + "b" + space;
        EXPECT_EQ(collapseToSingleLine(text), "你好 b") << text;
    }
}

TEST(CollapseToSingleLine, OnlyWhiteSpaceAndLineBreaksGiveEmptyText) {
    EXPECT_EQ(collapseToSingleLine(" \t\r\n\u3000\n\u00A0 "), "");
    EXPECT_EQ(collapseToSingleLine("\n\n\r"), "");
    EXPECT_EQ(collapseToSingleLine("\u2028"), "");
    EXPECT_EQ(collapseToSingleLine("\v\f"), "");
}

TEST(CollapseToSingleLine, OtherLineBreaksAreTrimmedOnlyAtTheEdges) {
    EXPECT_EQ(collapseToSingleLine("a\u2028b"), "a\u2028b");
    EXPECT_EQ(collapseToSingleLine("\u2029a\nb\u0085"), "a b");
    EXPECT_EQ(collapseToSingleLine("\va\vb\v"), "a\vb");
}

TEST(CollapseToSingleLine, LeavesOtherCharactersAlone) {
    // Zero-width space and BOM are format characters, not spaces.
    EXPECT_EQ(collapseToSingleLine("\u200Bx\uFEFF"), "\u200Bx\uFEFF");
    EXPECT_EQ(collapseToSingleLine(" 👍🏽 ok "), "👍🏽 ok");
    // Bytes that are not UTF-8 are passed through untouched.
    EXPECT_EQ(collapseToSingleLine(" \xff a \xe3\x80 \n"), "\xff a \xe3\x80");
    // An overlong encoding of a space is not a space.
    EXPECT_EQ(collapseToSingleLine("\xc0\xa0x"), "\xc0\xa0x");
}

}  // namespace
}  // namespace vurin
