#pragma once

#include <cstddef>
#include <string_view>

namespace vurin {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut-off sequence.
bool isValidUTF8(std::string_view bytes);

// `text` without leading and trailing white space and line breaks: tab, U+000A...U+000D, NEL,
// the Unicode space separators (Zs) and the line and paragraph separators. Text that is not
// valid UTF-8 is trimmed of those it can read.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// The first `count` characters (code points) of valid UTF-8 `text`, never splitting one.
std::string_view utf8Prefix(std::string_view text, std::size_t count);

}  // namespace vurin
