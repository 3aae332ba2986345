// libFuzzer target for what the phone server does with the bytes a client sends before it
// answers: collecting the head, parsing the request line and routing it against the token.
// Every input is checked against a few properties; a violated one aborts, which libFuzzer
// reports as a crash together with the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "phone/phone_http.h"

namespace {

constexpr std::string_view kToken = "00112233445566778899aabbccddeeff";

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Feeds `bytes` to a reader in pieces of `pieceSize` bytes, as successive reads would.
vurin::RequestHeadReader readInPieces(std::string_view bytes, std::size_t pieceSize) {
    vurin::RequestHeadReader reader;
    while (!bytes.empty() && reader.progress() == vurin::RequestHeadReader::Progress::incomplete) {
        const std::string_view piece = bytes.substr(0, pieceSize);
        reader.append(piece);
        bytes.remove_prefix(piece.size());
    }
    return reader;
}

bool isRouted(vurin::PhoneTriggerRoute route) {
    return route != vurin::PhoneTriggerRoute::forbidden &&
           route != vurin::PhoneTriggerRoute::notFound;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using Progress = vurin::RequestHeadReader::Progress;

    // One read with everything, and small reads whose size the input's first byte chooses: the
    // resumed terminator search must find the same head either way.
    const auto whole = readInPieces(bytes, bytes.size() + 1);
    const std::size_t pieceSize = size == 0 ? 1 : data[0] % 7 + 1;
    const auto pieces = readInPieces(bytes, pieceSize);
    if (size <= vurin::RequestHeadReader::kMaxHeadBytes) {
        require(whole.progress() != Progress::tooLarge);
        require(pieces.progress() == whole.progress());
    }
    if (whole.progress() != Progress::complete) {
        return 0;
    }
    const std::string_view head = whole.head();
    require(bytes.substr(head.size(), 4) == "\r\n\r\n");
    require(head.find("\r\n\r\n") == std::string_view::npos);
    if (pieces.progress() == Progress::complete) {
        require(pieces.head() == head);
    }

    const auto line = vurin::parseRequestHead(head);
    if (!line) {
        return 0;
    }
    require(!line->method.empty() && !line->rawPath.empty());
    require(line->method.find(' ') == std::string::npos);
    require(line->rawPath.find(' ') == std::string::npos);

    const auto route = vurin::phoneTriggerRoute(line->method, line->rawPath, kToken);
    // Nothing gets past a stopped server (empty token), and only GET and POST reach anything.
    require(vurin::phoneTriggerRoute(line->method, line->rawPath, "") ==
            vurin::PhoneTriggerRoute::forbidden);
    if (isRouted(route)) {
        require(line->method == "GET" || line->method == "POST");
        require(line->rawPath.find('?') != std::string::npos);
    }
    // A different token of the same length never opens what this one opens.
    std::string other(kToken);
    other.back() = other.back() == 'f' ? 'e' : 'f';
    if (route != vurin::PhoneTriggerRoute::forbidden) {
        require(vurin::phoneTriggerRoute(line->method, line->rawPath, other) ==
                vurin::PhoneTriggerRoute::forbidden);
    }
    require(vurin::tokensEqual(line->rawPath, kToken) == (line->rawPath == kToken));
    return 0;
}
