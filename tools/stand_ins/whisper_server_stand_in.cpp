// A stand-in for whisper.cpp's `whisper-server` (tests and demos only). It takes the real
// command line (-m MODEL --port PORT -l LANGUAGE, plus --host), refuses to start without the
// model file, answers "/" once "loaded", and transcribes every upload to the canned text in
// VURIN_STAND_IN_TRANSCRIPT. See stand_in_common.h for the behaviour switches.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "stand_in_common.h"

namespace {

constexpr const char* kDefaultTranscript = "这是一段测试转写";

}  // namespace

int main(int argc, char** argv) {
    using namespace vurin::standin;
    std::string model;
    std::string host = "127.0.0.1";
    int port = 8080;  // whisper-server's own default
    for (int index = 1; index + 1 < argc; ++index) {
        const std::string option = argv[index];
        if (option == "-m" || option == "--model") {
            model = argv[++index];
        } else if (option == "--port") {
            port = std::atoi(argv[++index]);
        } else if (option == "--host") {
            host = argv[++index];
        } else if (option == "-l" || option == "--language") {
            ++index;
        }
    }
    prepare("whisper-server", argc, argv);
    std::error_code ignored;
    if (model.empty() || !std::filesystem::exists(model, ignored)) {
        std::fprintf(stderr, "error: failed to open model '%s'\n", model.c_str());
        return 1;
    }

    httplib::Server server;
    server.Get("/", [](const httplib::Request& request, httplib::Response& response) {
        logRequest({{"method", request.method}, {"path", request.path}});
        response.set_content("<html><body>whisper.cpp server (stand-in)</body></html>",
                             "text/html");
    });
    server.Post("/inference", [](const httplib::Request& request, httplib::Response& response) {
        const std::string transcript =
            environmentValue("VURIN_STAND_IN_TRANSCRIPT", kDefaultTranscript);
        const long status = environmentNumber("VURIN_STAND_IN_INFERENCE_STATUS", 200);
        nlohmann::json record{{"method", request.method}, {"path", request.path}};
        for (const char* field : {"language", "response_format", "temperature", "prompt"}) {
            if (request.has_file(field)) {
                record[field] = request.get_file_value(field).content;
            }
        }
        if (request.has_file("file")) {
            const std::string& audio = request.get_file_value("file").content;
            record["audioBytes"] = audio.size();
            // Kept for tests that check what was heard against what was played.
            if (const auto folder = environmentValue("VURIN_STAND_IN_AUDIO_DIR"); !folder.empty()) {
                static std::atomic<int> uploads{0};
                const auto file = std::filesystem::path(folder) /
                                  ("upload-" + std::to_string(++uploads) + ".wav");
                std::ofstream(file, std::ios::binary) << audio;
                record["audioFile"] = file.string();
            }
        }
        record["status"] = status;
        record["answered"] = transcript;
        logRequest(record);
        response.status = static_cast<int>(status);
        const bool json = request.has_file("response_format") &&
                          request.get_file_value("response_format").content == "json";
        if (json) {
            response.set_content(nlohmann::json{{"text", transcript}}.dump(), "application/json");
        } else {
            response.set_content(transcript + "\n", "text/plain; charset=utf-8");
        }
    });
    serve(server, host, port);
}
