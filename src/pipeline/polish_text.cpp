#include "pipeline/polish_text.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

#include <algorithm>
#include <map>
#include <set>

namespace vurin::polish_text {
namespace {

// Longer digit strings are not read as numbers (they could not be compared as one anyway).
constexpr std::size_t kMaxDigits = 15;

// Compatibility and case folding: full-width letters and digits become ASCII, capitals small.
std::u32string folded(std::string_view utf8) {
    const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* fold = icu::Normalizer2::getNFKCCasefoldInstance(status);
    icu::UnicodeString normal;
    if (U_SUCCESS(status)) {
        normal = fold->normalize(source, status);
    }
    if (U_FAILURE(status)) {
        normal = source;
        normal.foldCase();
    }
    std::u32string out;
    for (std::int32_t at = 0; at < normal.length();) {
        const UChar32 c = normal.char32At(at);
        out.push_back(static_cast<char32_t>(c));
        at += U16_LENGTH(c);
    }
    return out;
}

bool isCjk(char32_t c) {
    if (u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_IDEOGRAPHIC)) {
        return true;
    }
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(static_cast<UChar32>(c), &status);
    return U_SUCCESS(status) && u_isalpha(static_cast<UChar32>(c)) &&
           (script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA || script == USCRIPT_HANGUL);
}

std::optional<long long> wordNumber(const std::u32string& word) {
    static const std::map<std::u32string, long long> spelled = {
        {U"zero", 0},      {U"one", 1},        {U"two", 2},       {U"three", 3},
        {U"four", 4},      {U"five", 5},       {U"six", 6},       {U"seven", 7},
        {U"eight", 8},     {U"nine", 9},       {U"ten", 10},      {U"eleven", 11},
        {U"twelve", 12},   {U"thirteen", 13},  {U"fourteen", 14}, {U"fifteen", 15},
        {U"sixteen", 16},  {U"seventeen", 17}, {U"eighteen", 18}, {U"nineteen", 19},
        {U"twenty", 20},   {U"thirty", 30},    {U"forty", 40},    {U"fifty", 50},
        {U"sixty", 60},    {U"seventy", 70},   {U"eighty", 80},   {U"ninety", 90},
        {U"hundred", 100}, {U"first", 1},      {U"second", 2},    {U"third", 3},
        {U"fourth", 4},    {U"fifth", 5},      {U"sixth", 6},     {U"seventh", 7},
        {U"eighth", 8},    {U"ninth", 9},      {U"tenth", 10}};
    if (const auto found = spelled.find(word); found != spelled.end()) {
        return found->second;
    }
    // Digits, with an ordinal ending allowed (1st, 22nd).
    std::size_t digits = 0;
    while (digits < word.size() && word[digits] >= U'0' && word[digits] <= U'9') {
        ++digits;
    }
    const std::u32string rest = word.substr(digits);
    if (digits == 0 || digits > kMaxDigits ||
        !(rest.empty() || rest == U"st" || rest == U"nd" || rest == U"rd" || rest == U"th")) {
        return std::nullopt;
    }
    long long value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        value = value * 10 + (word[i] - U'0');
    }
    return value;
}

int chineseDigit(char32_t c) {
    static const std::u32string digits = U"零一二三四五六七八九";
    if (c == U'〇') {
        return 0;
    }
    if (c == U'两') {
        return 2;
    }
    const auto at = digits.find(c);
    return at == std::u32string::npos ? -1 : static_cast<int>(at);
}

bool isChineseNumeral(char32_t c) {
    return chineseDigit(c) >= 0 || c == U'十' || c == U'百' || c == U'千' || c == U'万';
}

// 三 → 3, 十二 → 12, 两百零五 → 205, 一万 → 10000; digits read one by one as they are for a year
// or a telephone number: 二零二四 → 2024.
long long chineseNumber(const std::vector<Token>& tokens, std::size_t from, std::size_t to) {
    if (to - from <= kMaxDigits &&
        std::all_of(tokens.begin() + static_cast<std::ptrdiff_t>(from),
                    tokens.begin() + static_cast<std::ptrdiff_t>(to),
                    [](const Token& token) { return chineseDigit(token.text[0]) >= 0; })) {
        long long digits = 0;
        for (std::size_t i = from; i < to; ++i) {
            digits = digits * 10 + chineseDigit(tokens[i].text[0]);
        }
        return digits;
    }
    long long total = 0, section = 0, digit = 0;
    for (std::size_t i = from; i < to; ++i) {
        const char32_t c = tokens[i].text[0];
        const int value = chineseDigit(c);
        if (value >= 0) {
            digit = value;
            continue;
        }
        const long long unit = c == U'十' ? 10 : c == U'百' ? 100 : c == U'千' ? 1000 : 10000;
        if (unit == 10000) {
            total += (section + digit) * unit;
            section = 0;
        } else {
            section += (digit == 0 && unit == 10 ? 1 : digit) * unit;
        }
        digit = 0;
    }
    return total + section + digit;
}

void markNumbers(std::vector<Token>& tokens) {
    for (std::size_t i = 0; i < tokens.size();) {
        if (!tokens[i].cjk) {
            tokens[i].number = wordNumber(tokens[i].text);
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < tokens.size() && sameRun(tokens, i, end) &&
               isChineseNumeral(tokens[end].text[0])) {
            ++end;
        }
        if (end == i) {
            ++i;
            continue;
        }
        const long long value = chineseNumber(tokens, i, end);
        // 第三 is "third": the ordinal mark belongs to the number.
        const std::size_t start =
            i > 0 && sameRun(tokens, i - 1, i) && tokens[i - 1].text == U"第" ? i - 1 : i;
        for (std::size_t k = start; k < end; ++k) {
            tokens[k].number = value;
        }
        i = end;
    }
}

// Words a speaker fills pauses with, which a polish is right to drop.
void markFillers(std::vector<Token>& tokens) {
    // Besides the sounds and words that fill a pause: the polite frame of a request ("can you",
    // 你能不能), which a polish may turn into a plain instruction; the words that number a spoken
    // list (首先, 其次), which become the list's lines; spoken punctuation (quote, 逗号).
    static const std::set<std::u32string> words = {
        U"um",        U"umm",       U"uh",    U"uhh",    U"uhm",   U"erm",     U"er",
        U"ah",        U"eh",        U"hmm",   U"hm",     U"mm",    U"mhm",     U"like",
        U"so",        U"well",      U"okay",  U"ok",     U"just",  U"yeah",    U"actually",
        U"basically", U"literally", U"kinda", U"please", U"quote", U"unquote", U"percent"};
    static const std::vector<std::vector<std::u32string>> phrases = {
        {U"you", U"know"}, {U"i", U"mean"},    {U"sort", U"of"},  {U"kind", U"of"},
        {U"can", U"you"},  {U"could", U"you"}, {U"would", U"you"}};
    static const std::vector<std::u32string> chinese = {
        U"嗯",       U"呃",   U"额",     U"啊",     U"哦",   U"噢",       U"诶",
        U"欸",       U"哎",   U"唉",     U"嘛",     U"吧",   U"呢",       U"呀",
        U"哈",       U"那个", U"这个",   U"就是",   U"然后", U"的话",     U"对吧",
        U"反正",     U"其实", U"所以说", U"怎么说", U"好吧", U"你能不能", U"能不能",
        U"可不可以", U"麻烦", U"首先",   U"其次",   U"接着", U"最后",     U"逗号",
        U"句号",     U"问号", U"引号",   U"冒号",   U"换行", U"百分之"};
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Token& token = tokens[i];
        // A stutter: the same unit twice in a row.
        if (i + 1 < tokens.size() && tokens[i + 1].text == token.text &&
            tokens[i + 1].cjk == token.cjk) {
            token.filler = true;
        }
        if (!token.cjk) {
            token.filler = token.filler || words.contains(token.text);
            for (const auto& phrase : phrases) {
                if (i + 1 < tokens.size() && token.text == phrase[0] &&
                    tokens[i + 1].text == phrase[1]) {
                    token.filler = tokens[i + 1].filler = true;
                }
            }
            continue;
        }
        for (const std::u32string& filler : chinese) {
            const std::size_t end = i + filler.size();
            bool matches = end <= tokens.size();
            for (std::size_t k = i; matches && k < end; ++k) {
                matches = sameRun(tokens, i, k) && tokens[k].text[0] == filler[k - i];
            }
            for (std::size_t k = i; matches && k < end; ++k) {
                tokens[k].filler = true;
            }
        }
    }
}

void index(Text& text) {
    const auto& tokens = text.tokens;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.number) {
            text.numbers.insert(*token.number);
        }
        if (token.cjk) {
            text.characters.insert(token.text[0]);
            const bool left = i > 0 && sameRun(tokens, i - 1, i);
            const bool right = i + 1 < tokens.size() && sameRun(tokens, i, i + 1);
            if (right) {
                text.pairs.insert(token.text + tokens[i + 1].text);
            }
            if (!left && !right) {
                text.loneCharacters.insert(token.text[0]);
            }
            continue;
        }
        text.words.insert(token.text);
        text.stems.insert(stem(token.text));
        std::u32string joined = token.text;
        for (std::size_t j = i + 1; j < tokens.size() && j < i + kMaxJoinedWords; ++j) {
            if (tokens[j].cjk) {
                break;
            }
            joined += tokens[j].text;
            text.joinedWords.insert(joined);
        }
    }
}

}  // namespace

bool sameRun(const std::vector<Token>& tokens, std::size_t a, std::size_t b) {
    return tokens[a].cjk && tokens[b].cjk && tokens[a].run == tokens[b].run;
}

std::u32string stem(std::u32string word) {
    if (word.size() < 4) {
        return word;
    }
    for (const std::u32string_view ending : {U"ing", U"ed", U"es", U"s"}) {
        if (word.size() > ending.size() + 2 && word.ends_with(ending)) {
            word.resize(word.size() - ending.size());
            break;
        }
    }
    if (word.size() > 3 && word.back() == U'e') {
        word.pop_back();
    }
    return word;
}

Text analysedText(std::string_view utf8) {
    Text text;
    std::u32string word;
    int run = 0;
    bool runOpen = false;
    const auto endWord = [&] {
        if (word.empty()) {
            return;
        }
        // One spelling for the word written both ways.
        text.tokens.push_back(Token{.text = word == U"okay" ? U"ok" : word});
        word.clear();
        if (runOpen) {
            ++run;
            runOpen = false;
        }
    };
    for (const char32_t c : folded(utf8)) {
        const bool digit = u_isdigit(static_cast<UChar32>(c));
        // Letters and digits part ("v2" is v and 2, as "v 二" is), so a number is a word.
        if (!word.empty() &&
            digit != static_cast<bool>(u_isdigit(static_cast<UChar32>(word.back())))) {
            endWord();
        }
        if (isCjk(c)) {
            endWord();
            text.tokens.push_back(Token{.text = std::u32string(1, c), .cjk = true, .run = run});
            runOpen = true;
        } else if (u_isalnum(static_cast<UChar32>(c))) {
            word.push_back(c);
        } else {
            endWord();
            if (!text.tokens.empty() &&
                std::u32string_view(U",:.!?;。、").find(c) != std::u32string_view::npos) {
                text.tokens.back().endsClause = true;
            }
        }
    }
    endWord();
    markNumbers(text.tokens);
    markFillers(text.tokens);
    index(text);
    return text;
}

}  // namespace vurin::polish_text
