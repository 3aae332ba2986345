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
    // The resumed terminator search finds the same head in small reads as in one.
    const auto whole = readInPieces(bytes, size + 1);
    const auto pieces = readInPieces(bytes, size == 0 ? 1 : data[0] % 7 + 1);
    require(size > RequestHeadReader::kMaxHeadBytes ||
            (pieces.progress() == whole.progress() && pieces.head() == whole.head()));
    const auto line = parseRequestHead(whole.head());
    if (!line) {
        return 0;
    }
    require(bytes.substr(whole.head().size(), 4) == "\r\n\r\n");
    // Nothing gets past a stopped server (empty token) nor past a token one byte off.
    const std::string token = "00112233445566778899aabbccddeeff", other = token.substr(1) + "f";
    require(phoneTriggerRoute(line->method, line->rawPath, "") == PhoneTriggerRoute::forbidden);
    require(phoneTriggerRoute(line->method, line->rawPath, token) == PhoneTriggerRoute::forbidden ||
            phoneTriggerRoute(line->method, line->rawPath, other) == PhoneTriggerRoute::forbidden);
    return 0;
}
