#include "providers/cloud_response.h"

#include <nlohmann/json.hpp>

#include "support/log.h"
#include "support/text.h"

namespace vurin {
namespace {

using nlohmann::json;

constexpr std::size_t kLoggedBodyCharacters = 200;

// A document as the platform's strict JSON reader takes it: an object or an array at the top.
std::optional<json> parseDocument(std::string_view body) {
    json document = json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !(document.is_object() || document.is_array())) {
        return std::nullopt;
    }
    return document;
}

const json* member(const json* object, const char* key) {
    if (object == nullptr || !object->is_object()) {
        return nullptr;
    }
    const auto found = object->find(key);
    return found == object->end() ? nullptr : &*found;
}

// The first element of an array of objects.
const json* firstObject(const json* array) {
    if (array == nullptr || !array->is_array() || array->empty() || !array->front().is_object()) {
        return nullptr;
    }
    return &array->front();
}

std::optional<std::string> stringValue(const json* value) {
    if (value == nullptr || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

std::string failureLine(std::string_view label, int status) {
    std::string line = "❌ " + std::string(label) + " 失败(HTTP " + std::to_string(status);
    if (status == -1) {
        line += " 超时";
    }
    return line + ")";
}

}  // namespace

std::optional<std::string> decodeCloudResponse(const std::optional<std::string>& body, int status,
                                               std::string_view label,
                                               const ReplyExtractor& extract) {
    if (status == 200 && body) {
        if (auto text = extract(*body)) {
            return std::string(trimWhitespaceAndNewlines(*text));
        }
    }
    if (body && isValidUTF8(*body)) {
        log("❌ " + std::string(label) + " HTTP " + std::to_string(status) + ": " +
            std::string(utf8Prefix(*body, kLoggedBodyCharacters)));
        return std::nullopt;
    }
    log(failureLine(label, status));
    return std::nullopt;
}

std::optional<std::string> jsonTopString(std::string_view body, std::string_view key) {
    const auto document = parseDocument(body);
    if (!document || !document->is_object()) {
        return std::nullopt;
    }
    const auto found = document->find(key);
    return found == document->end() ? std::nullopt : stringValue(&*found);
}

std::optional<std::string> extractOpenAIChatContent(std::string_view body) {
    const auto document = parseDocument(body);
    if (!document) {
        return std::nullopt;
    }
    const json* choice = firstObject(member(&*document, "choices"));
    auto content = stringValue(member(member(choice, "message"), "content"));
    if (!content) {
        return std::nullopt;
    }
    constexpr std::string_view kThinkEnd = "</think>";
    if (const auto at = content->find(kThinkEnd); at != std::string::npos) {
        content->erase(0, at + kThinkEnd.size());
    }
    return content;
}

std::optional<std::string> extractGeminiText(std::string_view body) {
    const auto document = parseDocument(body);
    if (!document) {
        return std::nullopt;
    }
    const json* candidate = firstObject(member(&*document, "candidates"));
    const json* part = firstObject(member(member(candidate, "content"), "parts"));
    return stringValue(member(part, "text"));
}

}  // namespace vurin
