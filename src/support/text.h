#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vurin {

// Makes a transcript or polished text one line before it is pasted: carriage returns count as
// line feeds, each line is trimmed of spaces (Unicode Zs) and tabs, empty lines are dropped,
// and the rest are joined with one space. Inner runs of spaces are kept. UTF-8 in and out;
// bytes that are not valid UTF-8 are kept as they are.
std::string collapseToSingleLine(std::string_view text);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut-off sequence.
bool isValidUTF8(std::string_view bytes);

// `text` without leading and trailing white space and line breaks: tab, U+000A...U+000D, NEL,
// the Unicode space separators (Zs) and the line and paragraph separators. Text that is not
// valid UTF-8 is trimmed of those it can read.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// The first `count` characters (code points) of valid UTF-8 `text`, never splitting one.
std::string_view utf8Prefix(std::string_view text, std::size_t count);

// `word` as one word of a POSIX shell command line: as it is when it holds nothing the shell
// would read, else in single quotes (a path with a space in a desktop's key binding).
std::string shellWord(std::string_view word);

// Another program's string (a clipboard format's name) made safe for one log line: control
// characters, line and paragraph separators and bytes that are not UTF-8 become \xNN or
// \u{NNNN}, and past `limit` characters the rest is cut and its length in bytes told.
std::string printableForLog(std::string_view foreign, std::size_t limit = 80);

}  // namespace vurin
