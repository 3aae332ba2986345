// libFuzzer target for what the phone server does with a client's bytes before it answers:
// collecting the head, parsing the request line and routing it. A violated property aborts.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "phone/phone_http.h"

namespace {

using namespace vurin;
using Progress = RequestHeadReader::Progress;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

RequestHeadReader readInPieces(std::string_view bytes, std::size_t size) {
    RequestHeadReader reader;
    for (; !bytes.empty() && reader.progress() == Progress::incomplete;
         bytes.remove_prefix(std::min(size, bytes.size()))) {
        reader.append(bytes.substr(0, size));
    }
    return reader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The resumed terminator search must find the same head in small reads as in one.
    const auto whole = readInPieces(bytes, size + 1);
    const auto pieces = readInPieces(bytes, size == 0 ? 1 : data[0] % 7 + 1);
    require(size > RequestHeadReader::kMaxHeadBytes ||
            (whole.progress() != Progress::tooLarge && pieces.progress() == whole.progress()));
    const auto line = parseRequestHead(whole.head());
    if (whole.progress() != Progress::complete || !line) {
        return 0;
    }
    const std::string_view head = whole.head();
    require(bytes.substr(head.size(), 4) == "\r\n\r\n" && head.find("\r\n\r\n") == head.npos);
    require(pieces.progress() != Progress::complete || pieces.head() == head);
    require(!line->method.empty() && line->method.find(' ') == std::string::npos &&
            !line->rawPath.empty() && line->rawPath.find(' ') == std::string::npos);
    // Nothing gets past a stopped server (empty token), nor past a token one byte off; only GET
    // and POST reach anything.
    const std::string token = "00112233445566778899aabbccddeeff", other = token.substr(1) + "f";
    const auto route = phoneTriggerRoute(line->method, line->rawPath, token);
    const bool opens =
        route != PhoneTriggerRoute::forbidden && route != PhoneTriggerRoute::notFound;
    require(phoneTriggerRoute(line->method, line->rawPath, "") == PhoneTriggerRoute::forbidden);
    require(!opens || line->method == "GET" || line->method == "POST");
    require(route == PhoneTriggerRoute::forbidden ||
            phoneTriggerRoute(line->method, line->rawPath, other) == PhoneTriggerRoute::forbidden);
    require(tokensEqual(line->rawPath, token) == (line->rawPath == token));
    return 0;
}
