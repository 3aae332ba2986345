#include "pipeline/polish_measures.h"

#include <algorithm>
#include <map>
#include <set>

#include "pipeline/polish_text.h"

namespace vurin {
namespace {

using namespace polish_text;

// Added to both sides of each share so that one changed word of a two-word dictation does not
// decide alone, and (more) to both sides of the length ratio.
constexpr double kShareSmoothingUnits = 1.0;
constexpr double kLengthSmoothingUnits = 2.0;
// A repetition is a run of this many units that comes back.
constexpr std::size_t kRepeatRun = 4;
// The longest reply word ("当然可以", "absolutely") in units.
constexpr double kMaxReplyUnits = 4.0;

// Marks the tokens whose content `b` has too.
void cover(std::vector<Token>& tokens, const Text& b) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Token& token = tokens[i];
        if (token.number && b.numbers.contains(*token.number)) {
            token.covered = true;
        } else if (!token.cjk) {
            token.covered =
                b.words.contains(token.text) || b.stems.contains(stem(token.text)) ||
                (token.text.size() >= kMinJoinedLength && b.joinedWords.contains(token.text));
        } else {
            const bool left = i > 0 && sameRun(tokens, i - 1, i);
            const bool right = i + 1 < tokens.size() && sameRun(tokens, i, i + 1);
            token.covered = (left && b.pairs.contains(tokens[i - 1].text + token.text)) ||
                            (right && b.pairs.contains(token.text + tokens[i + 1].text)) ||
                            (!left && !right && b.characters.contains(token.text[0])) ||
                            b.loneCharacters.contains(token.text[0]);
        }
    }
    // Words of `a` in a row that `b` writes as one word.
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        std::u32string joined;
        for (std::size_t j = i; j < tokens.size() && j < i + kMaxJoinedWords && !tokens[j].cjk;
             ++j) {
            joined += tokens[j].text;
            if (j > i && joined.size() >= kMinJoinedLength && b.words.contains(joined)) {
                for (std::size_t k = i; k <= j; ++k) {
                    tokens[k].covered = true;
                }
            }
        }
    }
}

// How often the most repeated run of kRepeatRun units of `text` occurs in it, and that run.
std::pair<int, std::u32string> mostRepeatedRun(const Text& text) {
    std::map<std::u32string, int> counts;
    std::pair<int, std::u32string> most{0, {}};
    for (std::size_t i = 0; i + kRepeatRun <= text.tokens.size(); ++i) {
        std::u32string key;
        for (std::size_t k = i; k < i + kRepeatRun; ++k) {
            key += text.tokens[k].text + U'\x1f';
        }
        const int count = ++counts[key];
        if (count > most.first) {
            most = {count, key};
        }
    }
    return most;
}

int occurrences(const Text& text, const std::u32string& run) {
    int count = 0;
    for (std::size_t i = 0; i + kRepeatRun <= text.tokens.size(); ++i) {
        std::u32string key;
        for (std::size_t k = i; k < i + kRepeatRun; ++k) {
            key += text.tokens[k].text + U'\x1f';
        }
        count += key == run ? 1 : 0;
    }
    return count;
}

struct Sums {
    // `cjk` and `written` leave numbers out: 3.14 for 三点一四 is no change of script.
    double all = 0, covered = 0, cjk = 0, written = 0, droppedFillers = 0;
};

Sums sums(const std::vector<Token>& tokens) {
    Sums sum;
    for (const Token& token : tokens) {
        const double weight = token.weight();
        sum.all += weight;
        sum.covered += token.covered ? weight : 0.0;
        sum.cjk += token.cjk && !token.number ? weight : 0.0;
        sum.written += token.number ? 0.0 : weight;
        sum.droppedFillers += token.filler && !token.covered ? weight : 0.0;
    }
    return sum;
}

// The result begins with a short clause of reply words the user did not say: "对的,…",
// "Yes, …", "Sure! …". A rewrite keeps the dictation's own opening; an answer begins by
// answering.
bool opensWithReply(const Text& written) {
    static const std::set<std::u32string> replies = {
        U"yes",      U"yeah",       U"yep",      U"no",    U"sure",   U"certainly",  U"absolutely",
        U"ofcourse", U"definitely", U"sorry",    U"great", U"gotit",  U"understood", U"done",
        U"noted",    U"对的",       U"是的",     U"好的",  U"当然",   U"当然可以",   U"没问题",
        U"可以的",   U"有的",       U"没有",     U"明白",  U"明白了", U"收到",       U"抱歉",
        U"对不起",   U"很抱歉",     U"不好意思", U"好嘞",  U"已完成"};
    std::u32string clause;
    double units = 0;
    for (std::size_t i = 0; i < written.tokens.size(); ++i) {
        const Token& token = written.tokens[i];
        if (token.covered) {
            return false;
        }
        clause += token.text;
        units += token.weight();
        if (token.endsClause) {
            return i + 1 < written.tokens.size() && units <= kMaxReplyUnits &&
                   replies.contains(clause);
        }
    }
    return false;
}

// Tokens i.. of `text` spell `phrase` (words, or CJK characters of one run).
bool spells(const Text& text, std::size_t i, const std::vector<std::u32string>& phrase) {
    if (i + phrase.size() > text.tokens.size()) {
        return false;
    }
    for (std::size_t k = 0; k < phrase.size(); ++k) {
        const Token& token = text.tokens[i + k];
        if (token.text != phrase[k] || (k > 0 && token.cjk && !sameRun(text.tokens, i, i + k))) {
            return false;
        }
    }
    return true;
}

bool hasPhrase(const Text& text, const std::vector<std::vector<std::u32string>>& phrases,
               bool uncoveredOnly) {
    for (std::size_t i = 0; i < text.tokens.size(); ++i) {
        for (const auto& phrase : phrases) {
            if (!spells(text, i, phrase)) {
                continue;
            }
            const auto end = text.tokens.begin() + static_cast<std::ptrdiff_t>(i + phrase.size());
            if (!uncoveredOnly || std::none_of(text.tokens.begin() + static_cast<std::ptrdiff_t>(i),
                                               end, [](const Token& t) { return t.covered; })) {
                return true;
            }
        }
    }
    return false;
}

// The user asked the assistant for something (帮我, 你, please, you) and the result takes the
// request on in the first person (我会, 我来, I'll, Here's) with words the user did not say.
bool commitsToRequest(const Text& said, const Text& written) {
    static const std::vector<std::vector<std::u32string>> asks = {
        {U"帮", U"我"}, {U"你"}, {U"您"}, {U"请"}, {U"给", U"我"}, {U"you"}, {U"please"}};
    static const std::vector<std::vector<std::u32string>> commitments = {
        {U"我", U"会"},        {U"我", U"将"},  {U"我", U"已"},  {U"我", U"来"},  {U"让", U"我"},
        {U"我", U"帮", U"你"}, {U"为", U"你"},  {U"i", U"ll"},   {U"i", U"will"}, {U"i", U"ve"},
        {U"i", U"have"},       {U"let", U"me"}, {U"here", U"s"}, {U"here", U"is"}};
    return hasPhrase(said, asks, false) && hasPhrase(written, commitments, true);
}

}  // namespace

PolishMeasures measurePolish(std::string_view transcript, std::string_view result) {
    return PolishMeasurer(transcript)(result);
}

PolishMeasurer::PolishMeasurer(std::string_view transcript)
    : said_(std::make_unique<const Text>(analysedText(transcript))) {}

PolishMeasurer::~PolishMeasurer() = default;

PolishMeasures PolishMeasurer::operator()(std::string_view result) const {
    // Only the transcript's tokens take marks; its indexes are shared by every result.
    const Text& said = *said_;
    std::vector<Token> saidTokens = said.tokens;
    Text written = analysedText(result);
    cover(saidTokens, written);
    cover(written.tokens, said);
    const Sums s = sums(saidTokens);
    const Sums w = sums(written.tokens);
    PolishMeasures measures;
    measures.resultUnits = w.all;
    measures.transcriptUnits = s.all - s.droppedFillers;
    measures.fromTranscript = (w.covered + kShareSmoothingUnits) / (w.all + kShareSmoothingUnits);
    measures.kept =
        (s.covered + kShareSmoothingUnits) / (measures.transcriptUnits + kShareSmoothingUnits);
    measures.lengthRatio =
        (w.all + kLengthSmoothingUnits) / (measures.transcriptUnits + kLengthSmoothingUnits);
    measures.cjkShareTranscript = s.written > 0 ? s.cjk / s.written : 0.0;
    // A result of nothing but numbers is in no script of its own.
    measures.cjkShareResult = w.written > 0 ? w.cjk / w.written : measures.cjkShareTranscript;
    const auto [repeats, run] = mostRepeatedRun(written);
    measures.repeats = repeats;
    measures.repeatsInTranscript = repeats > 0 ? occurrences(said, run) : 0;
    measures.speaksAsAssistant = opensWithReply(written) || commitsToRequest(said, written);
    measures.resultHasContent = !written.tokens.empty();
    measures.transcriptHasContent = !said.tokens.empty();
    return measures;
}

}  // namespace vurin
