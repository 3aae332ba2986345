// libFuzzer target for a phone client's head, request line and route; a broken property aborts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "phone/phone_http.h"

using namespace vurin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // Read at once and in pieces of 1 to 7 bytes, the resumed search finds the same head.
    RequestHeadReader whole, pieces;
    whole.append(bytes);
    for (std::size_t at = 0;
         at < size && pieces.progress() == RequestHeadReader::Progress::incomplete;) {
        pieces.append(bytes.substr(at, data[0] % 7 + 1));
        at += data[0] % 7 + 1;
    }
    const auto line = parseRequestHead(whole.head());
    if ((size <= RequestHeadReader::kMaxHeadBytes && pieces.head() != whole.head()) ||
        (line && bytes.substr(whole.head().size(), 4) != "\r\n\r\n")) {
        std::abort();
    }
    // Nothing gets past a stopped server (empty token) nor past a token one byte off.
    const std::string token = "00112233445566778899aabbccddeeff", other = token.substr(1) + "f";
    if (line &&
        (phoneTriggerRoute(line->method, line->rawPath, "") != PhoneTriggerRoute::forbidden ||
         (phoneTriggerRoute(line->method, line->rawPath, token) != PhoneTriggerRoute::forbidden &&
          phoneTriggerRoute(line->method, line->rawPath, other) != PhoneTriggerRoute::forbidden))) {
        std::abort();
    }
    return 0;
}
