#include "providers/local_endpoints.h"

#include <atomic>

#include "local_services/service_constants.h"

namespace vurin {
namespace {

std::atomic<int> whisperOverride{0};
std::atomic<int> ollamaOverride{0};

std::string loopbackURL(int port, const char* path) {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

}  // namespace

std::string localWhisperInferenceURL() {
    const int port = whisperOverride.load();
    return loopbackURL(port != 0 ? port : whisperPort, "/inference");
}

std::string localOllamaGenerateURL() {
    const int port = ollamaOverride.load();
    return loopbackURL(port != 0 ? port : ollamaPort, "/api/generate");
}

void overrideLocalPortsForTesting(int whisper, int ollama) {
    whisperOverride.store(whisper);
    ollamaOverride.store(ollama);
}

}  // namespace vurin
