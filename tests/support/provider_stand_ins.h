#pragma once

#include <gtest/gtest.h>

#include <map>

#include "config/keychain.h"
#include "providers/local_endpoints.h"
#include "providers/provider_catalogue.h"
#include "support/fake_secret_store.h"
#include "support/stand_in_http_server.h"
#include "support/testing.h"

namespace vurin::testing {

struct ScriptedReply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};
    bool hang = false;                // never answers (until the server shuts down)
    bool closeMidReply = false;       // no longer acted on: kept for positional initialisers
    std::function<void()> onRequest;  // runs when the request arrives, before any delay
};

// A stand-in HTTP server whose routes answer as scripted (and re-scripted while it runs).
class ScriptedStandIn : public StandInHttpServer {
  public:
    void script(const std::string& path, ScriptedReply reply) {
        std::lock_guard guard(lock_);
        if (!replies_.insert_or_assign(path, std::move(reply)).second) {
            return;  // the route is there already
        }
        route(path, [this, path](const httplib::Request&, httplib::Response& response) {
            std::unique_lock guard(lock_);
            const ScriptedReply reply = replies_[path];
            guard.unlock();
            if (reply.onRequest) {
                reply.onRequest();
            }
            shutdownGate().waitOpen(reply.hang ? std::chrono::minutes(2) : reply.delay);
            response.status = reply.status;
            if (!reply.hang) {
                response.set_content(reply.body, reply.contentType);
            }
        });
    }

  private:
    std::mutex lock_;
    std::map<std::string, ScriptedReply> replies_;
};

inline const auto whisperPath = [] { return std::string("/inference"); };
inline const auto ollamaPath = [] { return std::string("/api/generate"); };
inline const auto groqTranscriptionPath = [] {
    return std::string("/openai/v1/audio/transcriptions");
};
inline const auto groqChatPath = [] { return std::string("/openai/v1/chat/completions"); };
inline const auto openAITranscriptionPath = [] { return std::string("/v1/audio/transcriptions"); };
inline const auto openAIChatPath = [] { return std::string("/v1/chat/completions"); };
inline const auto geminiPath = [] {
    return std::string("/v1beta/models/gemini-2.5-flash:generateContent");
};
inline std::string ollamaReply(const std::string& response, const std::string& extraFields = "{}") {
    nlohmann::json reply = {{"model", "qwen2.5:7b"}, {"response", response}, {"done", true}};
    reply.update(nlohmann::json::parse(extraFields));
    return reply.dump();
}
inline std::string openAIChatReply(const std::string& content) {
    return R"({"choices":[{"index":0,"message":{"role":"assistant","content":)" +
           nlohmann::json(content).dump() + "}}]}";
}
inline std::string openAITranscriptionReply(const std::string& text) {
    return nlohmann::json{{"text", text}}.dump();
}
inline std::string geminiReply(const std::string& text) {
    return R"({"candidates":[{"content":{"role":"model","parts":[{"text":)" +
           nlohmann::json(text).dump() + "}]}}]}";
}

// The clients against stand-ins: the local services on `local`, every cloud provider on `cloud`.
class ProviderClientsFixture : public ::testing::Test {
  public:
    void SetUp() override { redirect(local.port(), cloud.origin()); }
    void TearDown() override { redirect(0, ""); }
    // The clients' own lines, not the keychain's.
    std::vector<std::string> lines() const {
        std::vector<std::string> own = log.lines();
        std::erase_if(own, [](const std::string& line) { return line.starts_with("🔑"); });
        return own;
    }

    ScriptedStandIn local;
    ScriptedStandIn cloud;
    LogCapture log;

  private:
    static void redirect(int localPort, const std::string& cloudOrigin) {
        installSecretStore(localPort ? std::make_shared<FakeSecretStore>() : nullptr);
        overrideLocalPortsForTesting(localPort, localPort);
        for (const char* id : {"groq", "openai", "gemini"}) {
            overrideProviderBaseURLForTesting(id, cloudOrigin);
        }
    }
};

}  // namespace vurin::testing
