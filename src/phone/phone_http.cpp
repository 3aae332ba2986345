#include "phone/phone_http.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vurin {
namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return (c | 0x20) - 'a' + 10;
}

// The characters a URL may carry as they are: unreserved, sub-delims, ":", "@", "/", "?", "#"
// and "%" (checked separately as the start of an escape).
bool isURLCharacter(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("-._~!$&'()*+,;=:@/?#%[]").find(c) != std::string_view::npos;
}

// A request target parses when every character is allowed, every "%" starts a two-digit escape
// and there is at most one "#".
bool isWellFormedTarget(std::string_view target) {
    std::size_t hashes = 0;
    for (std::size_t i = 0; i < target.size(); ++i) {
        const char c = target[i];
        if (!isURLCharacter(c)) {
            return false;
        }
        if (c == '%' &&
            (i + 2 >= target.size() || !isHex(target[i + 1]) || !isHex(target[i + 2]))) {
            return false;
        }
        hashes += c == '#' ? 1 : 0;
    }
    return hashes <= 1;
}

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool isValidUTF8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t minimum = 0;
        std::uint32_t value = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, minimum = 0x80, value = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, minimum = 0x800, value = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, minimum = 0x10000, value = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            value = (value << 6) | (next & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

struct SplitTarget {
    std::string_view path;
    std::optional<std::string_view> query;
};

// Separates path and query of an origin-form ("/p?q") or absolute-form ("http://h/p?q") target.
SplitTarget splitTarget(std::string_view target) {
    if (const auto hash = target.find('#'); hash != std::string_view::npos) {
        target = target.substr(0, hash);
    }
    SplitTarget split;
    if (const auto mark = target.find('?'); mark != std::string_view::npos) {
        split.query = target.substr(mark + 1);
        target = target.substr(0, mark);
    }
    const auto colon = target.find(':');
    const auto slash = target.find('/');
    if (colon != std::string_view::npos && colon > 0 && colon < slash) {
        target = target.substr(colon + 1);  // scheme
        if (target.starts_with("//")) {
            const auto pathStart = target.find('/', 2);
            target = pathStart == std::string_view::npos ? "" : target.substr(pathStart);
        }
    }
    split.path = target;
    return split;
}

// The value of the first query item named "t"; nothing when absent or without "=".
std::optional<std::string> firstTokenItem(std::string_view query) {
    while (true) {
        const auto amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        const auto equals = item.find('=');
        const std::string name = percentDecode(item.substr(0, equals));
        if (name == "t") {
            if (equals == std::string_view::npos) {
                return std::nullopt;
            }
            return percentDecode(item.substr(equals + 1));
        }
        if (amp == std::string_view::npos) {
            return std::nullopt;
        }
        query.remove_prefix(amp + 1);
    }
}

}  // namespace

bool tokensEqual(std::string_view given, std::string_view expected) {
    // Every byte of the longer string is visited; only the lengths leak, and they are public.
    const std::size_t length = std::max(given.size(), expected.size());
    unsigned difference = given.size() == expected.size() ? 0U : 1U;
    for (std::size_t i = 0; i < length; ++i) {
        const auto a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0U;
        const auto b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0U;
        difference |= a ^ b;
    }
    return difference == 0;
}

PhoneTriggerRoute phoneTriggerRoute(std::string_view method, std::string_view rawPath,
                                    std::string_view expectedToken) {
    if (!isWellFormedTarget(rawPath) || expectedToken.empty()) {
        return PhoneTriggerRoute::forbidden;
    }
    const SplitTarget target = splitTarget(rawPath);
    if (!target.query || target.query->empty()) {
        return PhoneTriggerRoute::forbidden;
    }
    const auto token = firstTokenItem(*target.query);
    if (!token || !isValidUTF8(*token) || !tokensEqual(*token, expectedToken)) {
        return PhoneTriggerRoute::forbidden;
    }
    const std::string path = percentDecode(target.path);
    if (method == "GET" && path == "/") {
        return PhoneTriggerRoute::page;
    }
    if (method == "GET" && path == "/events") {
        return PhoneTriggerRoute::events;
    }
    if (method == "POST" && path == "/e/down") {
        return PhoneTriggerRoute::down;
    }
    if (method != "POST") {
        return PhoneTriggerRoute::notFound;
    }
    return path == "/e/up" ? PhoneTriggerRoute::up : PhoneTriggerRoute::notFound;
}

std::optional<RequestLine> parseRequestHead(std::string_view head) {
    if (!isValidUTF8(head)) {
        return std::nullopt;
    }
    std::string_view line = head.substr(0, head.find("\r\n"));
    std::vector<std::string_view> pieces;
    while (!line.empty() && pieces.size() < 2) {
        const auto space = line.find(' ');
        if (space != 0) {
            pieces.push_back(line.substr(0, space));
        }
        if (space == std::string_view::npos) {
            break;
        }
        line.remove_prefix(space + 1);
    }
    if (pieces.size() < 2) {
        return std::nullopt;
    }
    return RequestLine{std::string(pieces[0]), std::string(pieces[1])};
}

std::optional<std::size_t> findHeadEnd(std::string_view buffer, std::size_t from) {
    const auto at = buffer.find("\r\n\r\n", std::min(from, buffer.size()));
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return at;
}

RequestHeadReader::Progress RequestHeadReader::append(std::string_view bytes) {
    if (progress_ != Progress::incomplete) {
        return progress_;
    }
    const std::size_t searchFrom = received_.size() >= 3 ? received_.size() - 3 : 0;
    received_.append(bytes);
    if (const auto end = findHeadEnd(received_, searchFrom)) {
        headEnd_ = *end;
        progress_ = Progress::complete;
    } else if (received_.size() > kMaxHeadBytes) {
        progress_ = Progress::tooLarge;
        received_.clear();
        received_.shrink_to_fit();
    }
    return progress_;
}

std::string_view RequestHeadReader::head() const {
    if (progress_ != Progress::complete) {
        return {};
    }
    return std::string_view(received_).substr(0, headEnd_);
}

std::string httpResponse(std::string_view status, std::string_view contentType,
                         std::string_view body) {
    std::string out;
    out.reserve(400 + body.size());
    out.append("HTTP/1.1 ").append(status).append("\r\n");
    out.append("Content-Type: ").append(contentType).append("\r\n");
    out.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    out.append("Cache-Control: no-store\r\n");
    out.append(
        "Content-Security-Policy: default-src 'self'; script-src 'unsafe-inline'; style-src "
        "'unsafe-inline'; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'\r\n");
    out.append("Referrer-Policy: no-referrer\r\n");
    out.append("X-Content-Type-Options: nosniff\r\n");
    out.append("Connection: close\r\n\r\n");
    out.append(body);
    return out;
}

std::string eventStreamMessage(std::string_view state) {
    std::string out("data: ");
    out.append(state).append("\n\n");
    return out;
}

}  // namespace vurin
