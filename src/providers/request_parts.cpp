#include "providers/request_parts.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>

#include "audio/recording_files.h"
#include "providers/provider_catalogue.h"
#include "support/log.h"

namespace vurin {

std::string multipartBoundary() {
    return "VurinBoundary-" + makeUUIDString();
}

std::string base64Encode(std::string_view bytes) {
    std::string encoded;
    // EVP_EncodeBlock takes an int length; encode in whole 3-byte groups per block so the
    // pieces join into one Base64 text.
    constexpr std::size_t kBlock = 3 * (1u << 20);
    for (std::size_t offset = 0; offset < bytes.size(); offset += kBlock) {
        const std::size_t length = std::min(kBlock, bytes.size() - offset);
        const std::size_t start = encoded.size();
        encoded.resize(start + 4 * ((length + 2) / 3) + 1);
        const int written =
            EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data() + start),
                            reinterpret_cast<const unsigned char*>(bytes.data() + offset),
                            static_cast<int>(length));
        encoded.resize(start + static_cast<std::size_t>(written));
    }
    return encoded;
}

bool geminiKeyFitsURL(std::string_view key) {
    for (const char c : key) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && c != '-' && c != '.' && c != '_' && c != '~') {
            return false;
        }
    }
    return true;
}

std::optional<std::string> geminiEndpoint(std::string_view model, std::string_view key,
                                          std::string_view label) {
    if (!geminiKeyFitsURL(key)) {
        log("❌ " + std::string(label) + ":API Key 含有不能放进网址的字符,请求未发送");
        return std::nullopt;
    }
    return geminiGenerateContentURL(model, key);
}

}  // namespace vurin
