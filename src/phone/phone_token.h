#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace vurin {

// Fills `out` from a secure random source; false when the source failed.
using SecureRandomSource = std::function<bool(std::span<std::uint8_t> out)>;

// The kernel's generator (getrandom), retried on interruption and short reads.
bool systemSecureRandom(std::span<std::uint8_t> out);

// A pairing token: the lowercase hex of 16 secure random bytes (32 characters). When the source
// fails, two random version-4 UUIDs without hyphens (64 lowercase hex characters).
std::string generatePhoneToken(const SecureRandomSource& source = systemSecureRandom);

// Tokens shorter than this are from older versions (or absent) and are replaced.
inline constexpr std::size_t kMinPhoneTokenLength = 32;

bool isPhoneTokenOutdated(std::string_view token);

}  // namespace vurin
