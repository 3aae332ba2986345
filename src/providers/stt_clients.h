#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "providers/stt_prompt.h"

namespace vurin {

class PipelineCancellation;

// How long to wait for the local whisper server: 2 s per second of audio plus 20 s, never less
// than 30 s nor more than 120 s.
double localTranscriptionTimeout(double audioDuration);

// Every client blocks its (background) thread, aborts promptly when `cancellation` is
// cancelled, and returns the transcript or nothing; failures are logged by the client itself,
// except an unreadable audio file, which gives nothing silently.

// The local whisper server's /inference. `language` ("auto", "zh", "en") is sent verbatim; the
// plain-text reply comes back as one line.
std::optional<std::string> localTranscribe(
    const std::filesystem::path& audioURL, std::string_view language, double audioDuration = 0.0,
    const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

// The provider `provider`'s transcription with its stored key; nothing (and a log line) when no
// key is stored.
std::optional<std::string> cloudTranscribe(
    const std::filesystem::path& audioURL, std::string_view language, std::string_view provider,
    const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

// An OpenAI-compatible transcription endpoint (`base` is its complete URL); `language` is sent
// unless it is "auto". `name` labels the log lines.
std::optional<std::string> openAICompatTranscribe(
    const std::filesystem::path& audioURL, std::string_view language, std::string_view key,
    std::string_view base, std::string_view model, std::string_view name,
    const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

// Gemini's generateContent with the audio inline; no language is sent.
std::optional<std::string> geminiTranscribe(
    const std::filesystem::path& audioURL, std::string_view key, std::string_view model,
    const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

}  // namespace vurin
