#include "providers/stt_clients.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "config/keychain.h"
#include "config/private_file.h"
#include "providers/cloud_response.h"
#include "providers/http_transport.h"
#include "providers/local_endpoints.h"
#include "providers/multipart_body.h"
#include "providers/provider_catalogue.h"
#include "providers/request_parts.h"
#include "support/log.h"
#include "support/text.h"

namespace vurin {
namespace {

constexpr double kRequestInterval = 60.0;
constexpr double kCloudWait = 30.0;
constexpr std::string_view kAudioName = "audio.wav";
constexpr std::string_view kAudioType = "audio/wav";

std::string statusText(int status) {
    return std::to_string(status) + (status == kHttpTimedOut ? " 超时" : "");
}

HttpRequest multipartRequest(std::string url, const std::string& boundary) {
    HttpRequest request;
    request.url = std::move(url);
    request.timeoutInterval = kRequestInterval;
    request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
    return request;
}

}  // namespace

double localTranscriptionTimeout(double audioDuration) {
    const double wait = 2.0 * audioDuration + 20.0;
    if (std::isnan(wait)) {
        return 30.0;  // an unknown length gets the shortest wait, not an endless one
    }
    return std::clamp(wait, 30.0, 120.0);
}

std::optional<std::string> localTranscribe(
    const std::filesystem::path& audioURL, std::string_view language, double audioDuration,
    const std::shared_ptr<PipelineCancellation>& cancellation) {
    const auto audio = readWholeFile(audioURL);
    if (!audio) {
        return std::nullopt;
    }
    const std::string boundary = multipartBoundary();
    HttpRequest request = multipartRequest(localWhisperInferenceURL(), boundary);
    request.body = multipartBody(boundary, *audio, kAudioName, kAudioType,
                                 {{"response_format", "text"},
                                  {"temperature", "0"},
                                  {"language", std::string(language)},
                                  {"prompt", std::string(sttDomainPrompt)}});
    const HttpResult result =
        httpPost(request, localTranscriptionTimeout(audioDuration), cancellation);
    if (result.status == 200 && result.body && isValidUTF8(*result.body)) {
        return collapseToSingleLine(*result.body);
    }
    log("❌ 本地 STT 失败(HTTP " + statusText(result.status) + ")");
    return std::nullopt;
}

std::optional<std::string> cloudTranscribe(
    const std::filesystem::path& audioURL, std::string_view language, std::string_view provider,
    const std::shared_ptr<PipelineCancellation>& cancellation) {
    const CloudProviderInfo info = cloudProviderInfo(provider);
    const std::string key = Keychain::get(info.keyAccount).value_or("");
    if (key.empty()) {
        log("❌ 未设置 " + info.name + " API Key(设置 → 语音识别 → 云端),无法用云端 STT");
        return std::nullopt;
    }
    if (const auto* gemini = info.api.gemini()) {
        return geminiTranscribe(audioURL, key, gemini->model, cancellation);
    }
    const auto* api = info.api.openAICompat();
    return openAICompatTranscribe(audioURL, language, key, api->sttBase, api->sttModel, info.name,
                                  cancellation);
}

std::optional<std::string> openAICompatTranscribe(
    const std::filesystem::path& audioURL, std::string_view language, std::string_view key,
    std::string_view base, std::string_view model, std::string_view name,
    const std::shared_ptr<PipelineCancellation>& cancellation) {
    const auto audio = readWholeFile(audioURL);
    if (!audio) {
        return std::nullopt;
    }
    const std::string boundary = multipartBoundary();
    HttpRequest request;
    request.url = std::string(base);
    request.timeoutInterval = kRequestInterval;
    request.headers.emplace_back("Authorization", "Bearer " + std::string(key));
    request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
    std::vector<std::pair<std::string, std::string>> fields{
        {"model", std::string(model)}, {"prompt", std::string(sttDomainPrompt)}};
    if (language != "auto") {
        fields.emplace_back("language", std::string(language));
    }
    request.body = multipartBody(boundary, *audio, kAudioName, kAudioType, fields);
    const HttpResult result = httpPost(request, kCloudWait, cancellation);
    return decodeCloudResponse(result.body, result.status, std::string(name) + " STT",
                               [](std::string_view body) { return jsonTopString(body, "text"); });
}

std::optional<std::string> geminiTranscribe(
    const std::filesystem::path& audioURL, std::string_view key, std::string_view model,
    const std::shared_ptr<PipelineCancellation>& cancellation) {
    constexpr std::string_view kLabel = "Gemini STT";
    const auto audio = readWholeFile(audioURL);
    if (!audio) {
        return std::nullopt;
    }
    const auto url = geminiEndpoint(model, key, kLabel);
    if (!url) {
        return std::nullopt;
    }
    nlohmann::json instruction = nlohmann::json::object();
    instruction["text"] =
        std::string(geminiTranscriptionInstruction) + std::string(sttDomainPrompt);
    nlohmann::json inlineData = nlohmann::json::object();
    inlineData["mime_type"] = "audio/wav";
    inlineData["data"] = base64Encode(*audio);
    nlohmann::json audioPart = nlohmann::json::object();
    audioPart["inline_data"] = std::move(inlineData);
    nlohmann::json content = nlohmann::json::object();
    content["parts"] = nlohmann::json::array({std::move(instruction), std::move(audioPart)});
    nlohmann::json body = nlohmann::json::object();
    body["contents"] = nlohmann::json::array({std::move(content)});
    HttpRequest request;
    request.url = *url;
    request.timeoutInterval = kRequestInterval;
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const HttpResult result = httpPost(request, kCloudWait, cancellation);
    return decodeCloudResponse(result.body, result.status, kLabel, extractGeminiText);
}

}  // namespace vurin
