// libFuzzer target for what the phone server does with a client's bytes before it answers:
// collecting the head, parsing the request line and routing it. A violated property aborts.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "phone/phone_http.h"

namespace {

using vurin::PhoneTriggerRoute;
using Progress = vurin::RequestHeadReader::Progress;
constexpr std::string_view kToken = "00112233445566778899aabbccddeeff";

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

vurin::RequestHeadReader readInPieces(std::string_view bytes, std::size_t pieceSize) {
    vurin::RequestHeadReader reader;
    for (; !bytes.empty() && reader.progress() == Progress::incomplete;
         bytes.remove_prefix(std::min(pieceSize, bytes.size()))) {
        reader.append(bytes.substr(0, pieceSize));
    }
    return reader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The resumed terminator search must find the same head in small reads as in one.
    const auto whole = readInPieces(bytes, bytes.size() + 1);
    const auto pieces = readInPieces(bytes, size == 0 ? 1 : data[0] % 7 + 1);
    if (size <= vurin::RequestHeadReader::kMaxHeadBytes) {
        require(whole.progress() != Progress::tooLarge && pieces.progress() == whole.progress());
    }
    if (whole.progress() != Progress::complete) {
        return 0;
    }
    const std::string_view head = whole.head();
    require(bytes.substr(head.size(), 4) == "\r\n\r\n" && head.find("\r\n\r\n") == head.npos);
    require(pieces.progress() != Progress::complete || pieces.head() == head);
    const auto line = vurin::parseRequestHead(head);
    if (!line) {
        return 0;
    }
    require(!line->method.empty() && !line->rawPath.empty());
    require(line->method.find(' ') == std::string::npos &&
            line->rawPath.find(' ') == std::string::npos);
    const auto route = vurin::phoneTriggerRoute(line->method, line->rawPath, kToken);
    // Nothing gets past a stopped server (empty token), and only GET and POST reach anything.
    require(vurin::phoneTriggerRoute(line->method, line->rawPath, "") ==
            PhoneTriggerRoute::forbidden);
    if (route != PhoneTriggerRoute::forbidden && route != PhoneTriggerRoute::notFound) {
        require(line->method == "GET" || line->method == "POST");
    }
    // A different token of the same length never opens what this one opens.
    std::string other(kToken);
    other.back() = 'e';
    require(route == PhoneTriggerRoute::forbidden ||
            vurin::phoneTriggerRoute(line->method, line->rawPath, other) ==
                PhoneTriggerRoute::forbidden);
    require(vurin::tokensEqual(line->rawPath, kToken) == (line->rawPath == kToken));
    return 0;
}
