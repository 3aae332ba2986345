#include "app/local_service_probes.h"

#include <system_error>

#include "local_services/local_executables.h"
#include "local_services/service_constants.h"

namespace vurin {

LocalServiceProbes installedLocalServiceProbes() {
    LocalServiceProbes probes;
    probes.findWhisperServerBin = [] { return findWhisperServerBin(); };
    probes.whisperModelExists = [] {
        std::error_code ignored;
        return std::filesystem::exists(whisperModelPath(), ignored);
    };
    probes.findOllamaBin = [] { return findOllamaBin(); };
    probes.ollamaModelInstalled = [] { return localOllamaModelInstalled(ollamaModel); };
    return probes;
}

}  // namespace vurin
