#include "providers/reply_text.h"

#include <algorithm>
#include <optional>

namespace vurin {
namespace {

struct Decoded {
    char32_t codePoint;
    std::size_t length;
};

// The character starting at `at`, or nothing when the bytes there are not valid UTF-8.
std::optional<Decoded> decodeAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return Decoded{lead, 1};
    }
    if (lead < 0xC2 || lead > 0xF4) {
        return std::nullopt;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (at + length > text.size()) {
        return std::nullopt;
    }
    char32_t codePoint = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if ((byte & 0xC0) != 0x80) {
            return std::nullopt;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (codePoint < smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return std::nullopt;
    }
    return Decoded{codePoint, length};
}

bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

bool isValidUTF8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const auto decoded = decodeAt(bytes, at);
        if (!decoded) {
            return false;
        }
        at += decoded->length;
    }
    return true;
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto decoded = decodeAt(text, at);
        const std::size_t length = decoded ? decoded->length : 1;
        if (!decoded || !isWhitespaceOrNewline(decoded->codePoint)) {
            begin = std::min(begin, at);
            end = at + length;
        }
        at += length;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view();
}

std::string_view utf8Prefix(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t taken = 0; taken < count && at < text.size(); ++taken) {
        const auto decoded = decodeAt(text, at);
        at += decoded ? decoded->length : 1;
    }
    return text.substr(0, at);
}

}  // namespace vurin
