#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/stand_in_http_server.h"

namespace vurin::testing {

// How a stand-in answers one route.
struct ScriptedReply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};
    bool hang = false;                // never answers (until the server shuts down)
    bool closeMidReply = false;       // starts the reply, then drops the connection
    std::function<void()> onRequest;  // runs when the request arrives, before any delay
};

// A stand-in HTTP server whose routes answer with replies the test scripts (and can re-script
// while it runs). It records every request, as StandInHttpServer does.
class ScriptedStandIn {
  public:
    ScriptedStandIn() = default;
    ScriptedStandIn(const ScriptedStandIn&) = delete;
    ScriptedStandIn& operator=(const ScriptedStandIn&) = delete;

    void script(const std::string& path, ScriptedReply reply);

    StandInHttpServer& server() { return server_; }
    int port() const { return server_.port(); }
    std::vector<ReceivedRequest> received() const { return server_.received(); }
    // The requests to `path` only.
    std::vector<ReceivedRequest> receivedAt(const std::string& path) const;

  private:
    ScriptedReply current(const std::string& path);

    StandInHttpServer server_;
    std::mutex lock_;
    std::map<std::string, ScriptedReply> replies_;
};

// Wire formats of the services the stand-ins imitate.
std::string whisperPath();              // "/inference"
std::string ollamaPath();               // "/api/generate"
std::string groqTranscriptionPath();    // "/openai/v1/audio/transcriptions"
std::string groqChatPath();             // "/openai/v1/chat/completions"
std::string openAITranscriptionPath();  // "/v1/audio/transcriptions"
std::string openAIChatPath();           // "/v1/chat/completions"
std::string geminiPath();               // "/v1beta/models/gemini-2.5-flash:generateContent"
std::string ollamaReply(const std::string& response, const std::string& extraFields = "");
std::string openAIChatReply(const std::string& content);
std::string openAITranscriptionReply(const std::string& text);
std::string geminiReply(const std::string& text);

// One multipart part as a test expects it on the wire.
std::string formField(const std::string& boundary, const std::string& name,
                      const std::string& value);
// The boundary a multipart request declared in its Content-Type header ("" when none).
std::string boundaryOf(const ReceivedRequest& request);

}  // namespace vurin::testing
