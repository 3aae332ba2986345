#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vurin {

// How a cloud provider is spoken to.
struct ProviderAPI {
    // An OpenAI-compatible API. The bases are complete endpoint URLs; `reasoningEffort`, when
    // present, goes with every chat request.
    struct OpenAICompat {
        std::string sttBase;
        std::string sttModel;
        std::string chatBase;
        std::string chatModel;
        std::optional<std::string> reasoningEffort;

        bool operator==(const OpenAICompat&) const = default;
    };
    // Gemini's own API; one model transcribes and polishes.
    struct Gemini {
        std::string model;

        bool operator==(const Gemini&) const = default;
    };

    std::variant<OpenAICompat, Gemini> value;

    const OpenAICompat* openAICompat() const { return std::get_if<OpenAICompat>(&value); }
    const Gemini* gemini() const { return std::get_if<Gemini>(&value); }
    bool operator==(const ProviderAPI&) const = default;
};

struct CloudProviderInfo {
    std::string id;          // the value stored in the settings
    std::string name;        // display name
    std::string keyAccount;  // keychain account of the API key
    ProviderAPI api;

    bool operator==(const CloudProviderInfo&) const = default;
};

// The three cloud providers, in order: Groq, OpenAI, Gemini. Fixed; callable from any thread.
std::vector<CloudProviderInfo> cloudProviderList();

// The entry whose id equals `id` exactly; the Groq entry for any other string.
CloudProviderInfo cloudProviderInfo(std::string_view id);

// The model that transcribes, and the one that polishes, for the provider `id` (looked up as
// cloudProviderInfo does).
std::string cloudSTTModelID(std::string_view id);
std::string cloudPolishModelID(std::string_view id);

// Gemini's generateContent endpoint for `model`, with `key` in the query verbatim. The URL then
// carries the key: it must never reach the log.
std::string geminiGenerateContentURL(std::string_view model, std::string_view key);

// Test seam: sends the provider `id`'s requests to `origin` (scheme, host and port, such as
// "http://127.0.0.1:40123") instead of its public host; paths stay as they are. An empty
// origin restores the public host. Nothing in the product calls this.
void overrideProviderBaseURLForTesting(std::string_view id, std::string_view origin);

}  // namespace vurin
