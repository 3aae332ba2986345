#include "support/provider_stand_ins.h"

#include <nlohmann/json.hpp>

#include "config/keychain.h"
#include "providers/local_endpoints.h"
#include "providers/provider_catalogue.h"
#include "support/fake_secret_store.h"

namespace vurin::testing {

using Json = nlohmann::json;

void ScriptedStandIn::script(const std::string& path, ScriptedReply reply) {
    std::lock_guard guard(lock_);
    if (!replies_.insert_or_assign(path, std::move(reply)).second) {
        return;  // re-scripted: the route is there already
    }
    server_.route(path, [this, path](const httplib::Request&, httplib::Response& response) {
        ScriptedReply reply;
        {
            std::lock_guard guard(lock_);
            reply = replies_[path];
        }
        if (reply.onRequest) {
            reply.onRequest();
        }
        if (reply.hang || reply.delay.count() > 0) {
            server_.shutdownGate().waitOpen(reply.hang ? std::chrono::minutes(2) : reply.delay);
            if (reply.hang) {
                return;
            }
        }
        response.status = reply.status;
        if (!reply.closeMidReply) {
            return response.set_content(reply.body, reply.contentType);
        }
        response.set_content_provider(
            reply.body.size() + 100, reply.contentType,
            [body = reply.body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                // Drops the connection before the promised length.
                return offset == 0 && sink.write(body.data(), body.size());
            });
    });
}

std::string ollamaReply(const std::string& response, const std::string& extraFields) {
    Json reply = {{"model", "qwen2.5:7b"}, {"response", response}, {"done", true}};
    reply.update(Json::parse(extraFields.empty() ? "{}" : extraFields));
    return reply.dump();
}

std::string openAIChatReply(const std::string& content) {
    const Json message = {{"role", "assistant"}, {"content", content}};
    return Json{{"choices", Json::array({{{"index", 0}, {"message", message}}})}}.dump();
}

std::string openAITranscriptionReply(const std::string& text) {
    return Json{{"text", text}}.dump();
}

std::string geminiReply(const std::string& text) {
    const Json content = {{"parts", Json::array({{{"text", text}}})}, {"role", "model"}};
    return Json{{"candidates", Json::array({{{"content", content}}})}}.dump();
}

void ProviderClientsFixture::SetUp() {
    installSecretStore(std::make_shared<FakeSecretStore>());
    overrideLocalPortsForTesting(local.port(), local.port());
    for (const char* id : {"groq", "openai", "gemini"}) {
        overrideProviderBaseURLForTesting(id, cloud.server().origin());
    }
}

void ProviderClientsFixture::TearDown() {
    overrideLocalPortsForTesting(0, 0);
    for (const char* id : {"groq", "openai", "gemini"}) {
        overrideProviderBaseURLForTesting(id, "");
    }
    installSecretStore(nullptr);
}

std::vector<std::string> ProviderClientsFixture::lines() const {
    std::vector<std::string> own;
    for (const auto& line : log.lines()) {
        if (!line.starts_with("🔑")) {
            own.push_back(line);
        }
    }
    return own;
}

}  // namespace vurin::testing
