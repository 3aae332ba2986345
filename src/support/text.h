#pragma once

#include <string>
#include <string_view>

namespace vurin {

// Makes a transcript or polished text one line before it is pasted: carriage returns count as
// line feeds, each line is trimmed of spaces (Unicode Zs) and tabs, empty lines are dropped,
// and the rest are joined with one space. Inner runs of spaces are kept. UTF-8 in and out;
// bytes that are not valid UTF-8 are kept as they are.
std::string collapseToSingleLine(std::string_view text);

}  // namespace vurin
