#pragma once

#include <string>

namespace vurin {

// "http://127.0.0.1:" + whisperPort + "/inference": where the local whisper server transcribes.
std::string localWhisperInferenceURL();

// "http://127.0.0.1:" + ollamaPort + "/api/generate": where the local ollama server polishes.
std::string localOllamaGenerateURL();

// Test seam: sends the local requests to these loopback ports instead of the fixed ones, so
// tests can run stand-in servers on ports of their choosing. 0 restores the fixed port.
// Nothing in the product calls this.
void overrideLocalPortsForTesting(int whisper, int ollama);

}  // namespace vurin
