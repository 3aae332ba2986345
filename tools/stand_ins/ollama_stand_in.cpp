// A stand-in for `ollama serve` (tests and demos only). It listens where OLLAMA_HOST says
// (default 127.0.0.1:11434), lists the models named in VURIN_STAND_IN_MODELS (comma-separated,
// default qwen2.5:7b) on /api/tags, and "polishes" /api/generate and /api/chat requests by
// handing back the dictation lightly cleaned, or VURIN_STAND_IN_ANSWER when set (a model that
// answers the dictation instead of polishing it). VURIN_STAND_IN_TAGS_BODY and
// VURIN_STAND_IN_TAGS_STATUS replace the /api/tags answer. See stand_in_common.h for the rest.
#include <cstdio>
#include <sstream>
#include <string>

#include "stand_in_common.h"

namespace {

using Json = nlohmann::json;

// OLLAMA_HOST as ollama reads it: [scheme://]host[:port], either part optional.
void listenAddress(std::string& host, int& port) {
    std::string value = vurin::standin::environmentValue("OLLAMA_HOST");
    if (const auto scheme = value.find("://"); scheme != std::string::npos) {
        value = value.substr(scheme + 3);
    }
    if (value.empty()) {
        return;
    }
    const auto colon = value.rfind(':');
    if (colon == std::string::npos) {
        host = value;
        return;
    }
    if (colon > 0) {
        host = value.substr(0, colon);
    }
    port = std::atoi(value.substr(colon + 1).c_str());
}

// The transcript between the <dictation> tags of a polish prompt, else the whole prompt.
std::string dictationIn(const std::string& prompt) {
    const std::string open = "<dictation>\n";
    const std::string close = "\n</dictation>";
    const auto start = prompt.find(open);
    const auto end = prompt.rfind(close);
    if (start == std::string::npos || end == std::string::npos || end < start + open.size()) {
        return prompt;
    }
    return prompt.substr(start + open.size(), end - start - open.size());
}

Json tagsBody() {
    Json models = Json::array();
    std::stringstream names(
        vurin::standin::environmentValue("VURIN_STAND_IN_MODELS", "qwen2.5:7b"));
    for (std::string name; std::getline(names, name, ',');) {
        if (!name.empty()) {
            models.push_back({{"name", name}, {"model", name}, {"size", 4683087332LL}});
        }
    }
    return {{"models", models}};
}

// body[key] when it is a string, else "".
std::string stringField(const Json& body, const char* key) {
    if (!body.is_object()) {
        return "";
    }
    const auto found = body.find(key);
    return found != body.end() && found->is_string() ? found->get<std::string>() : "";
}

std::string modelsText(const std::string& dictation) {
    const std::string answer = vurin::standin::environmentValue("VURIN_STAND_IN_ANSWER");
    return answer.empty() ? vurin::standin::lightlyCleaned(dictation) : answer;
}

void reply(httplib::Response& response, const Json& body) {
    response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace),
                         "application/json; charset=utf-8");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vurin::standin;
    if (argc < 2 || std::string(argv[1]) != "serve") {
        std::fprintf(stderr, "usage: ollama serve (stand-in)\n");
        return 1;
    }
    std::string host = "127.0.0.1";
    int port = 11434;
    listenAddress(host, port);
    prepare("ollama", argc, argv);

    httplib::Server server;
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("Ollama is running", "text/plain");
    });
    server.Get("/api/version", [](const httplib::Request&, httplib::Response& response) {
        reply(response, {{"version", "0.0.0-stand-in"}});
    });
    server.Get("/api/tags", [](const httplib::Request& request, httplib::Response& response) {
        const long status = environmentNumber("VURIN_STAND_IN_TAGS_STATUS", 200);
        const char* raw = std::getenv("VURIN_STAND_IN_TAGS_BODY");
        const std::string body = raw != nullptr ? std::string(raw) : tagsBody().dump();
        logRequest({{"method", request.method}, {"path", request.path}, {"status", status}});
        response.status = static_cast<int>(status);
        response.set_content(body, "application/json; charset=utf-8");
    });
    server.Post("/api/generate", [](const httplib::Request& request, httplib::Response& response) {
        const Json body = Json::parse(request.body, nullptr, false);
        if (!body.is_object() || !body.contains("prompt") || !body["prompt"].is_string()) {
            response.status = 400;
            reply(response, {{"error", "invalid request"}});
            return;
        }
        const std::string dictation = dictationIn(body["prompt"].get<std::string>());
        const std::string polished = modelsText(dictation);
        logRequest({{"method", request.method},
                    {"path", request.path},
                    {"model", stringField(body, "model")},
                    {"keep_alive", stringField(body, "keep_alive")},
                    {"received", dictation},
                    {"answered", polished}});
        reply(response, {{"model", stringField(body, "model")},
                         {"response", polished},
                         {"done", true},
                         {"total_duration", 120000000},
                         {"load_duration", 1000000},
                         {"prompt_eval_count", 20},
                         {"prompt_eval_duration", 30000000},
                         {"eval_count", 10},
                         {"eval_duration", 80000000}});
    });
    server.Post("/api/chat", [](const httplib::Request& request, httplib::Response& response) {
        const Json body = Json::parse(request.body, nullptr, false);
        std::string dictation;
        if (body.is_object() && body.contains("messages") && body["messages"].is_array()) {
            for (const auto& message : body["messages"]) {
                if (stringField(message, "role") == "user") {
                    dictation = dictationIn(stringField(message, "content"));
                }
            }
        }
        const std::string polished = modelsText(dictation);
        logRequest({{"method", request.method},
                    {"path", request.path},
                    {"received", dictation},
                    {"answered", polished}});
        reply(response, {{"model", stringField(body, "model")},
                         {"message", {{"role", "assistant"}, {"content", polished}}},
                         {"done", true}});
    });
    serve(server, host, port);
}
