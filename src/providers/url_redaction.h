#pragma once

#include <string>
#include <string_view>

namespace vurin {

// `url` fit for the log: the value of every query parameter whose name mentions a key, token,
// secret or password (Gemini's "key=...") becomes "REDACTED", and user information before the
// host becomes "REDACTED" too. Everything else is kept as it is.
std::string redactedURL(std::string_view url);

}  // namespace vurin
