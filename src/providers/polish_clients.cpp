#include "providers/polish_clients.h"

#include <algorithm>
#include <cmath>

#include "config/keychain.h"
#include "local_services/service_constants.h"
#include "providers/cloud_response.h"
#include "providers/http_transport.h"
#include "providers/local_endpoints.h"
#include "providers/provider_catalogue.h"
#include "providers/request_parts.h"
#include "support/grapheme_count.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {
namespace {

using Json = nlohmann::json;

constexpr double kRequestInterval = 60.0;
constexpr double kCloudWait = 30.0;
constexpr double kTemperature = 0.2;

// Never throws: text that is not valid UTF-8 is sent with replacement characters.
std::string serialised(const Json& body) {
    return body.dump(-1, ' ', false, Json::error_handler_t::replace);
}

HttpRequest jsonRequest(std::string url, const char* contentTypeHeader) {
    HttpRequest request;
    request.url = std::move(url);
    request.timeoutInterval = kRequestInterval;
    request.headers.emplace_back(contentTypeHeader, "application/json");
    return request;
}

Json textPart(std::string text) {
    Json part = Json::object();
    part["text"] = std::move(text);
    return part;
}

Json message(const char* role, std::string content) {
    Json entry = Json::object();
    entry["role"] = role;
    entry["content"] = std::move(content);
    return entry;
}

std::optional<std::int64_t> integerValue(const Json& reply, const char* key) {
    const auto found = reply.find(key);
    if (found == reply.end() || !found->is_number()) {
        return std::nullopt;
    }
    if (found->is_number_float()) {
        const double value = found->get<double>();
        // Only values a 64-bit integer can hold; 2^63 itself is out of range.
        if (!std::isfinite(value) || value < -9.2233720368547758e18 ||
            value >= 9.2233720368547758e18) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(value);
    }
    if (found->is_number_unsigned() &&
        found->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
        return std::nullopt;
    }
    return found->get<std::int64_t>();
}

OllamaTiming timingOf(const Json& reply) {
    return {
        ollamaDurationMs(reply, "total_duration"),       ollamaDurationMs(reply, "load_duration"),
        ollamaDurationMs(reply, "prompt_eval_duration"), ollamaDurationMs(reply, "eval_duration"),
        integerValue(reply, "prompt_eval_count"),        integerValue(reply, "eval_count")};
}

std::optional<LocalPolishResult> resultOf(const std::optional<std::string>& body) {
    if (!body) {
        return std::nullopt;
    }
    const Json reply = Json::parse(*body, nullptr, false);
    if (!reply.is_object()) {
        return std::nullopt;
    }
    const auto response = reply.find("response");
    if (response == reply.end() || !response->is_string()) {
        return std::nullopt;
    }
    return LocalPolishResult{std::string(trimWhitespaceAndNewlines(response->get<std::string>())),
                             timingOf(reply)};
}

}  // namespace

double localPolishTimeout(std::size_t characterCount) {
    return std::clamp(0.15 * static_cast<double>(characterCount) + 30.0, 45.0, 120.0);
}

std::optional<std::int64_t> ollamaDurationMs(const Json& reply, std::string_view key) {
    if (!reply.is_object()) {
        return std::nullopt;
    }
    const auto found = reply.find(key);
    if (found == reply.end() || !found->is_number()) {
        return std::nullopt;
    }
    const double ms = std::round(found->get<double>() / 1'000'000.0);  // halves away from zero
    if (!std::isfinite(ms) || ms < -9.2233720368547758e18 || ms >= 9.2233720368547758e18) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(ms);
}

std::optional<LocalPolishResult> localPolishWithTiming(
    std::string_view text, const std::shared_ptr<PipelineCancellation>& cancellation) {
    Json options = Json::object();
    options["temperature"] = kTemperature;
    Json body = Json::object();
    body["model"] = std::string(ollamaModel);
    body["stream"] = false;
    body["keep_alive"] = std::string(ollamaKeepAlive);
    body["system"] = std::string(polishSystemPrompt);
    body["prompt"] = polishUserMessage(text);
    body["options"] = std::move(options);
    HttpRequest request = jsonRequest(localOllamaGenerateURL(), "content-type");
    request.body = serialised(body);
    const HttpResult result =
        httpPost(request, localPolishTimeout(graphemeCount(text)), cancellation);
    if (result.status == 200) {
        if (auto polished = resultOf(result.body)) {
            return polished;
        }
    }
    if (result.body && isValidUTF8(*result.body)) {
        log("❌ 本地润色 HTTP " + std::to_string(result.status) + ": " +
            std::string(utf8Prefix(*result.body, 200)));
    } else {
        log("❌ 本地润色失败(HTTP " + std::to_string(result.status) +
            (result.status == kHttpTimedOut ? " 超时" : "") + ")");
    }
    return std::nullopt;
}

std::optional<std::string> localPolish(std::string_view text) {
    auto result = localPolishWithTiming(text);
    if (!result) {
        return std::nullopt;
    }
    return std::move(result->text);
}

std::optional<std::string> cloudPolish(std::string_view text, std::string_view provider,
                                       const std::shared_ptr<PipelineCancellation>& cancellation) {
    const CloudProviderInfo info = cloudProviderInfo(provider);
    const std::string key = Keychain::get(info.keyAccount).value_or("");
    if (key.empty()) {
        log("❌ 未设置 " + info.name + " API Key(设置 → 文本润色 → 云端),无法用云端润色");
        return std::nullopt;
    }
    if (const auto* gemini = info.api.gemini()) {
        return geminiPolish(text, key, gemini->model, cancellation);
    }
    const auto* api = info.api.openAICompat();
    return openAICompatPolish(text, api->chatBase, api->chatModel, key, info.name,
                              api->reasoningEffort, cancellation);
}

std::optional<std::string> openAICompatPolish(
    std::string_view text, std::string_view base, std::string_view model, std::string_view key,
    std::string_view name, const std::optional<std::string>& reasoningEffort,
    const std::shared_ptr<PipelineCancellation>& cancellation) {
    Json body = Json::object();
    body["model"] = std::string(model);
    body["temperature"] = kTemperature;
    body["messages"] = Json::array({message("system", std::string(polishSystemPrompt)),
                                    message("user", polishUserMessage(text))});
    if (reasoningEffort) {
        body["reasoning_effort"] = *reasoningEffort;
    }
    HttpRequest request;
    request.url = std::string(base);
    request.timeoutInterval = kRequestInterval;
    request.headers.emplace_back("Authorization", "Bearer " + std::string(key));
    request.headers.emplace_back("content-type", "application/json");
    request.body = serialised(body);
    const HttpResult result = httpPost(request, kCloudWait, cancellation);
    return decodeCloudResponse(result.body, result.status, std::string(name) + "润色",
                               extractOpenAIChatContent);
}

std::optional<std::string> geminiPolish(std::string_view text, std::string_view key,
                                        std::string_view model,
                                        const std::shared_ptr<PipelineCancellation>& cancellation) {
    constexpr std::string_view kLabel = "Gemini润色";
    const auto url = geminiEndpoint(model, key, kLabel);
    if (!url) {
        return std::nullopt;
    }
    Json systemInstruction = Json::object();
    systemInstruction["parts"] = Json::array({textPart(std::string(polishSystemPrompt))});
    Json content = Json::object();
    content["parts"] = Json::array({textPart(polishUserMessage(text))});
    Json generationConfig = Json::object();
    generationConfig["temperature"] = kTemperature;
    Json body = Json::object();
    body["system_instruction"] = std::move(systemInstruction);
    body["contents"] = Json::array({std::move(content)});
    body["generationConfig"] = std::move(generationConfig);
    HttpRequest request = jsonRequest(*url, "Content-Type");
    request.body = serialised(body);
    const HttpResult result = httpPost(request, kCloudWait, cancellation);
    return decodeCloudResponse(result.body, result.status, kLabel, extractGeminiText);
}

}  // namespace vurin
