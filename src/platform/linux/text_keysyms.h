#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vurin {

// The keysyms that type UTF-8 `text`, one per code point (a line feed is Return, a tab is Tab).
// Nothing when the text is not valid UTF-8 or holds a code point no keysym types (a control
// character).
std::optional<std::vector<std::uint32_t>> keysymsForText(const std::string& text);

}  // namespace vurin
