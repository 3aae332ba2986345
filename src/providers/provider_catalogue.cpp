#include "providers/provider_catalogue.h"

#include <map>
#include <mutex>

namespace vurin {
namespace {

constexpr std::string_view kGroqOrigin = "https://api.groq.com";
constexpr std::string_view kOpenAIOrigin = "https://api.openai.com";
constexpr std::string_view kGeminiOrigin = "https://generativelanguage.googleapis.com";

struct OriginOverrides {
    std::mutex lock;
    std::map<std::string, std::string, std::less<>> origins;
};

OriginOverrides& originOverrides() {
    static OriginOverrides overrides;
    return overrides;
}

std::string originOf(std::string_view id, std::string_view publicOrigin) {
    auto& overrides = originOverrides();
    std::lock_guard guard(overrides.lock);
    const auto found = overrides.origins.find(id);
    return found == overrides.origins.end() ? std::string(publicOrigin) : found->second;
}

CloudProviderInfo groqEntry() {
    const std::string origin = originOf("groq", kGroqOrigin);
    return {"groq", "Groq", "GROQ_API_KEY",
            ProviderAPI{ProviderAPI::OpenAICompat{
                origin + "/openai/v1/audio/transcriptions", "whisper-large-v3",
                origin + "/openai/v1/chat/completions", "qwen/qwen3.6-27b", "none"}}};
}

CloudProviderInfo openAIEntry() {
    const std::string origin = originOf("openai", kOpenAIOrigin);
    return {"openai", "OpenAI", "OPENAI_API_KEY",
            ProviderAPI{ProviderAPI::OpenAICompat{
                origin + "/v1/audio/transcriptions", "gpt-4o-mini-transcribe",
                origin + "/v1/chat/completions", "gpt-4o-mini", std::nullopt}}};
}

CloudProviderInfo geminiEntry() {
    return {"gemini", "Gemini", "GEMINI_API_KEY",
            ProviderAPI{ProviderAPI::Gemini{"gemini-2.5-flash"}}};
}

}  // namespace

std::vector<CloudProviderInfo> cloudProviderList() {
    return {groqEntry(), openAIEntry(), geminiEntry()};
}

CloudProviderInfo cloudProviderInfo(std::string_view id) {
    if (id == "openai") {
        return openAIEntry();
    }
    if (id == "gemini") {
        return geminiEntry();
    }
    return groqEntry();
}

std::string cloudSTTModelID(std::string_view id) {
    const CloudProviderInfo info = cloudProviderInfo(id);
    if (const auto* api = info.api.openAICompat()) {
        return api->sttModel;
    }
    return info.api.gemini()->model;
}

std::string cloudPolishModelID(std::string_view id) {
    const CloudProviderInfo info = cloudProviderInfo(id);
    if (const auto* api = info.api.openAICompat()) {
        return api->chatModel;
    }
    return info.api.gemini()->model;
}

std::string geminiGenerateContentURL(std::string_view model, std::string_view key) {
    return originOf("gemini", kGeminiOrigin) + "/v1beta/models/" + std::string(model) +
           ":generateContent?key=" + std::string(key);
}

void overrideProviderBaseURLForTesting(std::string_view id, std::string_view origin) {
    auto& overrides = originOverrides();
    std::lock_guard guard(overrides.lock);
    if (origin.empty()) {
        overrides.origins.erase(std::string(id));
    } else {
        overrides.origins.insert_or_assign(std::string(id), std::string(origin));
    }
}

}  // namespace vurin
