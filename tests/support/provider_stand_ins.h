#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/stand_in_http_server.h"
#include "support/testing.h"

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

// A stand-in HTTP server whose routes answer as the test scripts (and re-scripts while it
// runs), recording every request.
class ScriptedStandIn {
  public:
    void script(const std::string& path, ScriptedReply reply);
    StandInHttpServer& server() { return server_; }
    int port() const { return server_.port(); }
    std::vector<ReceivedRequest> received() const { return server_.received(); }

  private:
    StandInHttpServer server_;
    std::mutex lock_;
    std::map<std::string, ScriptedReply> replies_;
};

// Where the real services answer, and their replies' shapes.
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
std::string ollamaReply(const std::string& response, const std::string& extraFields = "");
std::string openAIChatReply(const std::string& content);
std::string openAITranscriptionReply(const std::string& text);
std::string geminiReply(const std::string& text);

// The speech-to-text and polish clients against stand-ins: both local services answer on
// `local`, every cloud provider on `cloud`; the keychain is an empty fake; the log is captured.
class ProviderClientsFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // The clients' own lines (the keychain reports a missing key on its own).
    std::vector<std::string> lines() const;

    ScriptedStandIn local;
    ScriptedStandIn cloud;
    LogCapture log;
};

}  // namespace vurin::testing
