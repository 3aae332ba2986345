#pragma once

#include <string>
#include <string_view>

namespace vurin {

// The instructions every polish model gets, local and cloud: 19 lines, 690 characters.
extern const std::string_view polishSystemPrompt;

// Identifies polishSystemPrompt in the history.
inline constexpr std::string_view polishPromptVersion = "v4";

// The user message that carries a transcript to the model, inserted unchanged: the tags tell the
// model where the dictation starts and ends so that it rewrites rather than answers it.
std::string polishUserMessage(std::string_view text);

}  // namespace vurin
