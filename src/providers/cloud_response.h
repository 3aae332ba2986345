#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vurin {

// Pulls the text out of a reply body; nothing when the body does not hold it.
using ReplyExtractor = std::function<std::optional<std::string>(std::string_view body)>;

// The text of a cloud provider's reply, trimmed of surrounding white space and line breaks, or
// nothing after logging one line that names `label` ("Groq STT", "Gemini润色", ...) and the
// status, with the first 200 characters of a UTF-8 body when there is one.
std::optional<std::string> decodeCloudResponse(const std::optional<std::string>& body, int status,
                                               std::string_view label,
                                               const ReplyExtractor& extract);

// The bodies below are parsed as a JSON document whose top level is an object or an array; any
// other body, a missing key or a value of another type gives nothing.

// Top-level object -> `key`, a string.
std::optional<std::string> jsonTopString(std::string_view body, std::string_view key);

// choices[0].message.content; when it holds "</think>", only what follows its first occurrence
// (a reasoning model's thinking is dropped).
std::optional<std::string> extractOpenAIChatContent(std::string_view body);

// candidates[0].content.parts[0].text.
std::optional<std::string> extractGeminiText(std::string_view body);

}  // namespace vurin
