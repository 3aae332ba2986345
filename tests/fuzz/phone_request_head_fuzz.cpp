// libFuzzer target: a phone client's head, request line and route; a broken property aborts.
#include <cstdint>
#include <cstdlib>

#include "phone/phone_http.h"

using namespace vurin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RequestHeadReader whole, pieces;  // pieces of 1 to 7 bytes: the resumed search finds the same
    whole.append(bytes);
    for (std::size_t at = 0; at < size; at += data[0] % 7 + 1) {
        pieces.append(bytes.substr(at, data[0] % 7 + 1));
    }
    const auto line = parseRequestHead(whole.head());
    const auto route = [&](std::string_view token) {
        return line ? phoneTriggerRoute(line->method, line->rawPath, token)
                    : PhoneTriggerRoute::forbidden;
    };
    // Nothing gets past a stopped server (empty token) nor past a token one byte off.
    if ((size <= RequestHeadReader::kMaxHeadBytes && pieces.head() != whole.head()) ||
        route("") != PhoneTriggerRoute::forbidden ||
        (route("0123456789abcdef") != PhoneTriggerRoute::forbidden &&
         route("0123456789abcdee") != PhoneTriggerRoute::forbidden)) {
        std::abort();
    }
    return 0;
}
