#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/polish_measures.h"

namespace vurin {

// Why a polish result was not pasted. The names (polishRejectionName) go into the history as
// `polishRejected`.
enum class PolishRejection {
    empty,           // nothing but white space or punctuation
    repetition,      // the model looped on a run of words
    script,          // written in another script than the dictation (a translation)
    newContent,      // mostly words the user did not say (an answer, a refusal, a comment)
    reply,           // answers in the assistant's voice ("Yes, …", 帮我… becomes 我会…)
    droppedContent,  // much of what the user said is missing (a truncation)
    length,          // far longer than what the user said
};

// What the model put around a good rewrite; removed when what is inside passes.
enum class PolishWrapper {
    codeFence,  // ``` ... ``` around everything
    quotes,     // "...", “...”, 「...」 around everything
    preface,    // "Sure, here is the polished text:" before it
    note,       // a comment of the model's own after it
};

struct PolishVerdict {
    // The text to paste: the result without its wrappers. Absent when the result is rejected:
    // the transcript is pasted instead.
    std::optional<std::string> text;
    std::optional<PolishRejection> rejection;
    std::vector<PolishWrapper> removed;
    // The result as the model gave it, against the transcript.
    PolishMeasures measures;
};

// Judges whether `result` is a rewrite of `transcript` (rather than an answer to it, a
// translation, a loop or a fragment), removing the wrappers a model puts around a good rewrite.
PolishVerdict guardPolish(std::string_view transcript, std::string_view result);

std::string_view polishRejectionName(PolishRejection rejection);

// The log line for a verdict that changed what is pasted, or nothing for a result taken as it
// is. It names the reason and its figure; the rejected text itself only when `withText` (the
// user keeps text history).
std::optional<std::string> polishGuardLogLine(const PolishVerdict& verdict, bool withText,
                                              std::string_view result);

}  // namespace vurin
