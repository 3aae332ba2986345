#pragma once

#include <string_view>

namespace vurin {

// The vocabulary hint sent with every transcription request, local and cloud (one line).
extern const std::string_view sttDomainPrompt;

// What Gemini is asked to do with the inline audio; sttDomainPrompt follows it directly.
extern const std::string_view geminiTranscriptionInstruction;

}  // namespace vurin
