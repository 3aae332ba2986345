#include "pipeline/polish_guard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "support/text.h"

namespace vurin {
namespace {

// The thresholds were tuned on tests/data/polish_guard/corpus.jsonl: 80 transcripts with a good
// polish each (fillers dropped, numbers and identifiers, spoken lists made lines, Chinese,
// English and mixed, one word to a long paragraph) and 71 with a bad result (answers, prefaces,
// quotes and fences, translations, loops, truncations, empty results, refusals). Each sits
// between the worst good polish and the bad results it is there to catch, nearer the good side
// only where the bad ones crowd it.
//
// Good polishes take at least 0.80 of their content from the transcript; refusals and most
// answers at most 0.37 (the answers that quote the question are caught as replies or by length).
constexpr double kMinFromTranscript = 0.7;
// Good polishes keep at least 0.80 of what was said (fillers aside); truncations at most 0.66.
constexpr double kMinKept = 0.73;
// Good polishes are at most 1.09 times the transcript; loops and answers that restate the
// question run from 1.7 times up.
constexpr double kMaxLengthRatio = 1.6;
// The share of CJK characters moves by at most 0.17 in a good polish (an English word written
// as code, a Chinese filler dropped) and by 0.73 or more in a translation.
constexpr double kMaxScriptShift = 0.45;
// A run of four units three times over, and twice as often as the user said it, is a loop.
constexpr int kMinRepeats = 3;
// A line or phrase outside the text is the model's own (a preface, a note) when less than this
// share of it comes from the transcript.
constexpr double kMaxWrapperFromTranscript = 0.5;
// An inline preface ("Polished text: ...") is short; a longer text before a colon is content.
constexpr std::size_t kMaxInlinePrefaceBytes = 80;
// Wrappers inside wrappers (a fence around a preface and quotes) are peeled this deep.
constexpr int kMaxPeelDepth = 3;

std::optional<PolishRejection> judged(std::string_view result, const PolishMeasures& m) {
    if (!m.resultHasContent) {
        // A dictation of nothing but symbols ("👍") may come back as it went.
        if (trimWhitespaceAndNewlines(result).empty() || m.transcriptHasContent) {
            return PolishRejection::empty;
        }
        return std::nullopt;
    }
    if (m.repeats >= kMinRepeats && m.repeats >= 2 * std::max(1, m.repeatsInTranscript)) {
        return PolishRejection::repetition;
    }
    if (std::abs(m.cjkShareResult - m.cjkShareTranscript) > kMaxScriptShift) {
        return PolishRejection::script;
    }
    if (m.fromTranscript < kMinFromTranscript) {
        return PolishRejection::newContent;
    }
    if (m.speaksAsAssistant) {
        return PolishRejection::reply;
    }
    if (m.kept < kMinKept) {
        return PolishRejection::droppedContent;
    }
    if (m.lengthRatio > kMaxLengthRatio) {
        return PolishRejection::length;
    }
    return std::nullopt;
}

using Unwrapped = std::pair<std::string, std::vector<PolishWrapper>>;

// One result's search for a good rewrite inside its wrappers: the transcript is analysed once,
// and each candidate judged once however many orders of peeling reach it (a long answer with a
// preface and a note would otherwise be measured dozens of times).
class Judge {
  public:
    explicit Judge(std::string_view transcript) : transcript_(transcript), measure_(transcript) {}

    std::string_view transcript() const { return transcript_; }
    PolishMeasures measures(std::string_view text) const { return measure_(text); }
    bool passes(const std::string& text) {
        const auto [at, fresh] = passes_.try_emplace(text, false);
        if (fresh) {
            at->second = !judged(text, measure_(text));
        }
        return at->second;
    }
    bool isModelsOwn(std::string_view part) const {
        return measure_(part).fromTranscript < kMaxWrapperFromTranscript;
    }
    std::map<std::pair<std::string, int>, std::optional<Unwrapped>> unwrapped;

  private:
    std::string_view transcript_;
    PolishMeasurer measure_;
    std::map<std::string, bool> passes_;
};

struct Peeled {
    std::string text;
    PolishWrapper wrapper;
};

std::string trimmed(std::string_view text) {
    return std::string(trimWhitespaceAndNewlines(text));
}

void peelFence(std::string_view text, Judge& judge, std::vector<Peeled>& out) {
    constexpr std::string_view fence = "```";
    if (text.size() < 2 * fence.size() || !text.starts_with(fence) || !text.ends_with(fence) ||
        judge.transcript().find(fence) != std::string_view::npos) {
        return;
    }
    std::string_view inner = text.substr(fence.size(), text.size() - 2 * fence.size());
    // The language tag of the opening line ("```text").
    const auto lineEnd = inner.find('\n');
    if (lineEnd != std::string_view::npos &&
        inner.substr(0, lineEnd).find(' ') == std::string_view::npos) {
        inner.remove_prefix(lineEnd + 1);
    }
    out.push_back({trimmed(inner), PolishWrapper::codeFence});
}

void peelQuotes(std::string_view text, Judge& judge, std::vector<Peeled>& out) {
    static const std::pair<std::string_view, std::string_view> marks[] = {
        {"\"", "\""}, {"'", "'"},   {"`", "`"},   {"“", "”"},
        {"‘", "’"},   {"「", "」"}, {"『", "』"}, {"«", "»"}};
    const std::string_view said = trimWhitespaceAndNewlines(judge.transcript());
    for (const auto& [open, close] : marks) {
        if (text.size() <= open.size() + close.size() || !text.starts_with(open) ||
            !text.ends_with(close) || said.starts_with(open)) {
            continue;
        }
        const std::string_view inner =
            text.substr(open.size(), text.size() - open.size() - close.size());
        // "A" and "B" is quoted twice, not wrapped once.
        if (inner.find(open) == std::string_view::npos &&
            inner.find(close) == std::string_view::npos) {
            out.push_back({trimmed(inner), PolishWrapper::quotes});
        }
    }
}

void peelPreface(std::string_view text, Judge& judge, std::vector<Peeled>& out) {
    const auto lineEnd = text.find('\n');
    if (lineEnd != std::string_view::npos && judge.isModelsOwn(text.substr(0, lineEnd))) {
        out.push_back({trimmed(text.substr(lineEnd + 1)), PolishWrapper::preface});
    }
    const std::string_view firstLine = text.substr(0, lineEnd);
    std::size_t colon = std::min(firstLine.find(':'), firstLine.find("："));
    if (colon == std::string_view::npos || colon == 0 || colon > kMaxInlinePrefaceBytes) {
        return;
    }
    const std::size_t after = colon + (text.compare(colon, 1, ":") == 0 ? 1 : 3);
    if (judge.isModelsOwn(text.substr(0, colon))) {
        out.push_back({trimmed(text.substr(after)), PolishWrapper::preface});
    }
}

void peelNote(std::string_view text, Judge& judge, std::vector<Peeled>& out) {
    const auto lineStart = text.rfind('\n');
    if (lineStart != std::string_view::npos && judge.isModelsOwn(text.substr(lineStart + 1))) {
        out.push_back({trimmed(text.substr(0, lineStart)), PolishWrapper::note});
    }
    // "…(已去掉口头语)" at the very end.
    for (const auto& [open, close] :
         {std::pair<std::string_view, std::string_view>{"(", ")"}, {"（", "）"}}) {
        const auto start = text.rfind(open);
        if (text.ends_with(close) && start != std::string_view::npos && start > 0 &&
            judge.isModelsOwn(text.substr(start))) {
            out.push_back({trimmed(text.substr(0, start)), PolishWrapper::note});
        }
    }
}

std::vector<Peeled> peels(std::string_view text, Judge& judge) {
    std::vector<Peeled> out;
    peelFence(text, judge, out);
    peelQuotes(text, judge, out);
    peelPreface(text, judge, out);
    peelNote(text, judge, out);
    std::erase_if(out, [](const Peeled& peeled) { return peeled.text.empty(); });
    return out;
}

// The most peeled version of `text` that passes, with the wrappers taken off on the way.
std::optional<Unwrapped> unwrapped(Judge& judge, const std::string& text, int depth) {
    if (depth >= kMaxPeelDepth) {
        return std::nullopt;
    }
    const auto known = judge.unwrapped.find({text, depth});
    if (known != judge.unwrapped.end()) {
        return known->second;
    }
    std::optional<Unwrapped> found;
    for (const Peeled& peeled : peels(text, judge)) {
        auto deeper = unwrapped(judge, peeled.text, depth + 1);
        if (!deeper && judge.passes(peeled.text)) {
            deeper.emplace(peeled.text, std::vector<PolishWrapper>{});
        }
        if (deeper) {
            deeper->second.insert(deeper->second.begin(), peeled.wrapper);
            found = std::move(deeper);
            break;
        }
    }
    judge.unwrapped.emplace(std::pair{text, depth}, found);
    return found;
}

std::string percent(double share) {
    return std::to_string(static_cast<int>(std::lround(share * 100))) + "%";
}

std::string times(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ratio);
    return text;
}

std::string rejectionText(PolishRejection rejection, const PolishMeasures& m) {
    switch (rejection) {
        case PolishRejection::empty:
            return "润色结果为空";
        case PolishRejection::repetition:
            return "润色结果在重复同一段(出现 " + std::to_string(m.repeats) + " 次)";
        case PolishRejection::script:
            return "润色结果换了文字(中文占比 " + percent(m.cjkShareTranscript) + " → " +
                   percent(m.cjkShareResult) + "),像是翻译";
        case PolishRejection::newContent:
            return "润色结果只有 " + percent(m.fromTranscript) + " 出自原话,像是回答而非整理";
        case PolishRejection::reply:
            return "润色结果用助手的口吻应答了原话,像是回答而非整理";
        case PolishRejection::droppedContent:
            return "润色结果只保留了原话的 " + percent(m.kept);
        case PolishRejection::length:
            return "润色结果长度是原话的 " + times(m.lengthRatio) + " 倍";
    }
    return {};
}

std::string_view wrapperText(PolishWrapper wrapper) {
    switch (wrapper) {
        case PolishWrapper::codeFence:
            return "代码块";
        case PolishWrapper::quotes:
            return "引号";
        case PolishWrapper::preface:
            return "前言";
        case PolishWrapper::note:
            return "附注";
    }
    return {};
}

}  // namespace

PolishVerdict guardPolish(std::string_view transcript, std::string_view result) {
    Judge judge(transcript);
    PolishVerdict verdict;
    verdict.measures = judge.measures(result);
    const std::string whole = trimmed(result);
    if (auto inner = unwrapped(judge, whole, 0)) {
        verdict.text = std::move(inner->first);
        verdict.removed = std::move(inner->second);
        return verdict;
    }
    verdict.rejection = judged(result, verdict.measures);
    if (!verdict.rejection) {
        verdict.text = std::string(result);
    }
    return verdict;
}

std::string_view polishRejectionName(PolishRejection rejection) {
    switch (rejection) {
        case PolishRejection::empty:
            return "empty";
        case PolishRejection::repetition:
            return "repetition";
        case PolishRejection::script:
            return "script";
        case PolishRejection::newContent:
            return "newContent";
        case PolishRejection::reply:
            return "reply";
        case PolishRejection::droppedContent:
            return "droppedContent";
        case PolishRejection::length:
            return "length";
    }
    return {};
}

std::optional<std::string> polishGuardLogLine(const PolishVerdict& verdict, bool withText,
                                              std::string_view result) {
    if (verdict.rejection) {
        std::string line =
            "⚠️ " + rejectionText(*verdict.rejection, verdict.measures) + ",改用 STT 原文";
        const std::string rejected = collapseToSingleLine(result);
        if (withText && !rejected.empty()) {
            line += " ┃ 未采用:" + rejected;
        }
        return line;
    }
    if (verdict.removed.empty()) {
        return std::nullopt;
    }
    std::string wrappers;
    for (const PolishWrapper wrapper : verdict.removed) {
        wrappers += (wrappers.empty() ? "" : "、") + std::string(wrapperText(wrapper));
    }
    return "⚠️ 润色结果外面带了" + wrappers + ",已去掉";
}

}  // namespace vurin
