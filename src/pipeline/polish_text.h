#pragma once

// The units a polish result and its transcript are compared in (see polish_measures.h). Internal
// to the polish guard.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vurin::polish_text {

// A word of n letters weighs n/3 units, about a syllable per three letters, as a CJK character
// is one syllable.
inline constexpr double kLettersPerUnit = 3.0;
// Words run together ("get user by id", a spelled E R E S O L V E): at most this many words,
// and the joined word at least this long.
inline constexpr std::size_t kMaxJoinedWords = 12;
inline constexpr std::size_t kMinJoinedLength = 4;

// One CJK character, or one word of letters or of digits, folded (full-width letters and digits
// made ASCII, capitals small).
struct Token {
    std::u32string text;
    bool cjk = false;
    // CJK tokens next to each other share a run; a word between them starts a new one.
    int run = 0;
    std::optional<long long> number;
    bool filler = false;
    bool covered = false;
    // A clause ends after it (a comma, colon, full stop, question or exclamation mark).
    bool endsClause = false;

    double weight() const { return cjk ? 1.0 : static_cast<double>(text.size()) / kLettersPerUnit; }
};

// A text as its units, with the indexes the comparison looks them up in.
struct Text {
    std::vector<Token> tokens;
    std::unordered_set<std::u32string> words;
    // The words without an ending of tense or number (merging, merged, merge: merg).
    std::unordered_set<std::u32string> stems;
    // Words 2..kMaxJoinedWords in a row, run together.
    std::unordered_set<std::u32string> joinedWords;
    // Neighbouring CJK characters of one run.
    std::unordered_set<std::u32string> pairs;
    std::unordered_set<char32_t> characters;
    // CJK characters standing alone between words (把 in "把 .env 文件").
    std::unordered_set<char32_t> loneCharacters;
    std::unordered_set<long long> numbers;
};

// `utf8` as its units: fillers marked (嗯, 那个, um, a stutter), numbers read however they are
// written (三, 3, three, 第三), clause ends noted.
Text analysedText(std::string_view utf8);

// Tokens `a` and `b` are CJK characters of one run.
bool sameRun(const std::vector<Token>& tokens, std::size_t a, std::size_t b);

// A light English stemmer: enough that "merge" and "merging", "test" and "tests" match.
std::u32string stem(std::u32string word);

}  // namespace vurin::polish_text
