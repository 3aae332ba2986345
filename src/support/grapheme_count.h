#pragma once

#include <cstddef>
#include <string_view>

namespace vurin {

// The number of user-perceived characters (extended grapheme clusters) in UTF-8 `text`: "é"
// written as e + combining accent, a family emoji joined with ZWJ, a flag made of two regional
// indicators and CR LF each count once. Bytes that are not valid UTF-8 count as one character
// per broken sequence. Callable from any thread.
std::size_t graphemeCount(std::string_view text);

}  // namespace vurin
