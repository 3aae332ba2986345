#include "phone/phone_token.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <random>

namespace vurin {
namespace {

std::string lowercaseHex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 0x0F]);
    }
    return out;
}

// Random bytes when getrandom failed: std::random_device has sources of its own (RDRAND,
// /dev/urandom). It throws when it has none; the clock then seeds a plain generator, which is
// still better than no pairing at all.
void fillFallbackRandom(std::span<std::uint8_t> out) {
    try {
        std::random_device device;
        for (auto& byte : out) {
            byte = static_cast<std::uint8_t>(device() & 0xFF);
        }
    } catch (...) {
        std::mt19937_64 generator(static_cast<std::uint64_t>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count()));
        for (auto& byte : out) {
            byte = static_cast<std::uint8_t>(generator() & 0xFF);
        }
    }
}

// A random version-4 UUID's 32 hex digits.
std::string randomUUIDHex() {
    std::array<std::uint8_t, 16> bytes{};
    fillFallbackRandom(bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    return lowercaseHex(bytes);
}

}  // namespace

bool systemSecureRandom(std::span<std::uint8_t> out) {
    std::size_t filled = 0;
    while (filled < out.size()) {
        const ssize_t got = getrandom(out.data() + filled, out.size() - filled, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

std::string generatePhoneToken(const SecureRandomSource& source) {
    std::array<std::uint8_t, 16> bytes{};
    if (source && source(bytes)) {
        return lowercaseHex(bytes);
    }
    return randomUUIDHex() + randomUUIDHex();
}

bool isPhoneTokenOutdated(std::string_view token) {
    return token.size() < kMinPhoneTokenLength;
}

}  // namespace vurin
