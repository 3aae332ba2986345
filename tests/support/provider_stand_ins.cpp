#include "support/provider_stand_ins.h"

#include <nlohmann/json.hpp>
#include <thread>

namespace vurin::testing {

void ScriptedStandIn::script(const std::string& path, ScriptedReply reply) {
    bool fresh = false;
    {
        std::lock_guard guard(lock_);
        fresh = replies_.find(path) == replies_.end();
        replies_[path] = std::move(reply);
    }
    if (!fresh) {
        return;
    }
    server_.route(path, [this, path](const httplib::Request&, httplib::Response& response) {
        const ScriptedReply reply = current(path);
        if (reply.onRequest) {
            reply.onRequest();
        }
        if (reply.hang) {
            server_.shutdownGate().waitOpen(std::chrono::seconds(120));
            return;
        }
        if (reply.delay.count() > 0) {
            server_.shutdownGate().waitOpen(reply.delay);
        }
        response.status = reply.status;
        if (reply.closeMidReply) {
            const std::string body = reply.body;
            response.set_content_provider(
                body.size() + 100, reply.contentType,
                [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset == 0) {
                        sink.write(body.data(), body.size());
                        return true;
                    }
                    return false;  // drop the connection before the promised length
                });
            return;
        }
        response.set_content(reply.body, reply.contentType);
    });
}

ScriptedReply ScriptedStandIn::current(const std::string& path) {
    std::lock_guard guard(lock_);
    return replies_[path];
}

std::vector<ReceivedRequest> ScriptedStandIn::receivedAt(const std::string& path) const {
    std::vector<ReceivedRequest> matching;
    for (auto& request : server_.received()) {
        if (request.path == path) {
            matching.push_back(std::move(request));
        }
    }
    return matching;
}

std::string whisperPath() {
    return "/inference";
}
std::string ollamaPath() {
    return "/api/generate";
}
std::string groqTranscriptionPath() {
    return "/openai/v1/audio/transcriptions";
}
std::string groqChatPath() {
    return "/openai/v1/chat/completions";
}
std::string openAITranscriptionPath() {
    return "/v1/audio/transcriptions";
}
std::string openAIChatPath() {
    return "/v1/chat/completions";
}
std::string geminiPath() {
    return "/v1beta/models/gemini-2.5-flash:generateContent";
}

std::string ollamaReply(const std::string& response, const std::string& extraFields) {
    nlohmann::json reply = {{"model", "qwen2.5:7b"}, {"response", response}, {"done", true}};
    if (!extraFields.empty()) {
        reply.update(nlohmann::json::parse(extraFields));
    }
    return reply.dump();
}

std::string openAIChatReply(const std::string& content) {
    nlohmann::json message = {{"role", "assistant"}, {"content", content}};
    nlohmann::json choice = {{"index", 0}, {"message", message}};
    return nlohmann::json{{"choices", nlohmann::json::array({choice})}}.dump();
}

std::string openAITranscriptionReply(const std::string& text) {
    return nlohmann::json{{"text", text}}.dump();
}

std::string geminiReply(const std::string& text) {
    nlohmann::json part = {{"text", text}};
    nlohmann::json content = {{"parts", nlohmann::json::array({part})}, {"role", "model"}};
    nlohmann::json candidate = {{"content", content}};
    return nlohmann::json{{"candidates", nlohmann::json::array({candidate})}}.dump();
}

std::string formField(const std::string& boundary, const std::string& name,
                      const std::string& value) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
           value + "\r\n";
}

std::string boundaryOf(const ReceivedRequest& request) {
    const auto found = request.headers.find("Content-Type");
    if (found == request.headers.end()) {
        return "";
    }
    const std::string marker = "boundary=";
    const auto at = found->second.find(marker);
    return at == std::string::npos ? "" : found->second.substr(at + marker.size());
}

}  // namespace vurin::testing
