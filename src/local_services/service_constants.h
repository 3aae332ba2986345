#pragma once

#include <filesystem>
#include <string_view>

#include "config/config.h"

namespace vurin {

// TCP port of the local whisper server.
inline constexpr int whisperPort = 8910;
// TCP port of the local ollama server.
inline constexpr int ollamaPort = 11434;
// The local polish model and how long ollama keeps it loaded after a request.
inline constexpr std::string_view ollamaModel = "qwen2.5:7b";
inline constexpr std::string_view ollamaKeepAlive = "30m";

// The local whisper model file, inside the private configuration directory.
inline std::filesystem::path whisperModelPath() {
    return configDir() / "models" / "ggml-large-v3-turbo.bin";
}

}  // namespace vurin
