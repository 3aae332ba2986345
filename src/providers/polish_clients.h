#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "providers/polish_prompt.h"

namespace vurin {

class PipelineCancellation;

// Ollama's own figures for one generate request; a field is absent when the reply lacks it or
// holds something other than a number.
struct OllamaTiming {
    std::optional<std::int64_t> totalMs;
    std::optional<std::int64_t> loadMs;
    std::optional<std::int64_t> promptEvalMs;
    std::optional<std::int64_t> evalMs;
    std::optional<std::int64_t> promptEvalCount;
    std::optional<std::int64_t> evalCount;

    bool operator==(const OllamaTiming&) const = default;
};

struct LocalPolishResult {
    std::string text;
    std::optional<OllamaTiming> timing;

    bool operator==(const LocalPolishResult&) const = default;
};

// How long to wait for the local model: 0.15 s per character plus 30 s, never less than 45 s
// nor more than 120 s.
double localPolishTimeout(std::size_t characterCount);

// reply[key] (nanoseconds) in milliseconds, halves rounded away from zero; absent when the key
// is missing, not a number, or too large for a 64-bit integer.
std::optional<std::int64_t> ollamaDurationMs(const nlohmann::json& reply, std::string_view key);

// Every client blocks its (background) thread, aborts promptly when `cancellation` is
// cancelled, and returns the polished text or nothing after logging why.

// The local ollama server's /api/generate, with ollama's timing figures.
std::optional<LocalPolishResult> localPolishWithTiming(
    std::string_view text, const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

// The same without a cancellation, text only (the ollama warm-up uses it).
std::optional<std::string> localPolish(std::string_view text);

// The provider `provider`'s chat model with its stored key; nothing (and a log line) when no
// key is stored.
std::optional<std::string> cloudPolish(
    std::string_view text, std::string_view provider,
    const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

// An OpenAI-compatible chat-completions endpoint (`base` is its complete URL).
std::optional<std::string> openAICompatPolish(
    std::string_view text, std::string_view base, std::string_view model, std::string_view key,
    std::string_view name, const std::optional<std::string>& reasoningEffort,
    const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

// Gemini's generateContent.
std::optional<std::string> geminiPolish(
    std::string_view text, std::string_view key, std::string_view model,
    const std::shared_ptr<PipelineCancellation>& cancellation = nullptr);

}  // namespace vurin
