#include "support/text.h"

#include <algorithm>
#include <cstdio>

namespace vurin {

namespace {

// One decoded character: its code point (or a value no class below contains when the bytes
// are not valid UTF-8) and its length in bytes.
struct Scalar {
    char32_t codePoint;
    std::size_t length;
};

constexpr char32_t kInvalid = 0xFFFFFFFF;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

Scalar decodeAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return {lead, 1};
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC2 || lead > 0xF4 || at + length > text.size()) {
        return {kInvalid, 1};
    }
    char32_t codePoint = lead & (0x3F >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!isContinuation(byte)) {
            return {kInvalid, 1};
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (codePoint < smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return {kInvalid, 1};
    }
    return {codePoint, length};
}

// Unicode category Zs, plus the tab.
bool isSpaceOrTab(char32_t c) {
    return c == U'\t' || c == U' ' || c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// The above plus line breaks of every kind: U+000A..U+000D, NEL and the separators Zl, Zp.
bool isSpaceOrLineBreak(char32_t c) {
    return isSpaceOrTab(c) || (c >= 0x0A && c <= 0x0D) || c == 0x0085 || c == 0x2028 || c == 0x2029;
}

template <typename Predicate>
std::string_view trim(std::string_view text, Predicate isBlank) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Scalar scalar = decodeAt(text, at);
        if (!isBlank(scalar.codePoint)) {
            begin = std::min(begin, at);
            end = at + scalar.length;
        }
        at += scalar.length;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view();
}

}  // namespace

std::string collapseToSingleLine(std::string_view text) {
    std::string joined;
    std::size_t pieceStart = 0;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        if (at < text.size() && text[at] != '\n' && text[at] != '\r') {
            continue;
        }
        const auto piece = trim(text.substr(pieceStart, at - pieceStart), isSpaceOrTab);
        if (!piece.empty()) {
            if (!joined.empty()) {
                joined.push_back(' ');
            }
            joined.append(piece);
        }
        pieceStart = at + 1;
    }
    return std::string(trim(joined, isSpaceOrLineBreak));
}

bool isValidUTF8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const Scalar scalar = decodeAt(bytes, at);
        if (scalar.codePoint == kInvalid) {
            return false;
        }
        at += scalar.length;
    }
    return true;
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    return trim(text, isSpaceOrLineBreak);
}

std::string_view utf8Prefix(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t taken = 0; taken < count && at < text.size(); ++taken) {
        at += decodeAt(text, at).length;
    }
    return text.substr(0, at);
}

std::string shellWord(std::string_view word) {
    if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw"
                                                "xyz0123456789_./+-") == std::string_view::npos) {
        return std::string(word);
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

namespace {

std::string escaped(const char* format, unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

std::string printableForLog(std::string_view foreign, std::size_t limit) {
    std::string printable;
    std::size_t at = 0;
    for (std::size_t taken = 0; at < foreign.size() && taken < limit; ++taken) {
        const Scalar scalar = decodeAt(foreign, at);
        if (scalar.codePoint == kInvalid) {
            printable += escaped("\\x%02X", static_cast<unsigned char>(foreign[at]));
        } else if (scalar.codePoint < 0x20 ||
                   (scalar.codePoint >= 0x7F && scalar.codePoint < 0xA0) ||
                   scalar.codePoint == 0x2028 || scalar.codePoint == 0x2029) {
            printable += escaped("\\u{%04X}", static_cast<unsigned>(scalar.codePoint));
        } else {
            printable.append(foreign.substr(at, scalar.length));
        }
        at += scalar.length;
    }
    if (at < foreign.size()) {
        printable += "…(共 " + std::to_string(foreign.size()) + " 字节)";
    }
    return printable;
}

}  // namespace vurin
