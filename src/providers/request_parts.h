#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vurin {

// "VurinBoundary-" + a fresh random UUID (upper case): new for every request, so no recording
// can contain it by accident.
std::string multipartBoundary();

// Standard Base64 (RFC 4648 alphabet, padding, no line breaks).
std::string base64Encode(std::string_view bytes);

// The key goes into Gemini's URL verbatim, so only keys made of URL-safe characters (letters,
// digits, "-", ".", "_", "~"; Google's keys use no others) are sent. Any other character would
// end the query early ("#", "&"), break the URL (space, line break) or send a different key.
bool geminiKeyFitsURL(std::string_view key);

// The Gemini endpoint for `model` with `key`, or nothing after logging one line (naming
// `label`, never the key) when the key cannot stand in a URL.
std::optional<std::string> geminiEndpoint(std::string_view model, std::string_view key,
                                          std::string_view label);

}  // namespace vurin
