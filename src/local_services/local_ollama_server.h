#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "local_services/local_executables.h"
#include "local_services/service_constants.h"
#include "local_services/supervised_service.h"

namespace vurin {

// The product's ollama server. The child finds its port through OLLAMA_HOST, which it inherits.
struct LocalOllamaServerOptions : SupervisedServiceOptions {
    LocalOllamaServerOptions() : SupervisedServiceOptions{ollamaPort, {}, findOllamaBin} {}
};

// Makes sure an ollama server answers on the loopback port with the polish model: adopts one
// that is already answering (and then never stops it), or launches `ollama serve` with tuned
// settings, waits for it, checks the model is listed and warms it up. While ready, maintain()
// probes it and starts again when it has stopped answering.
class LocalOllamaServer final : public SupervisedService {
  public:
    static std::shared_ptr<LocalOllamaServer> create(std::shared_ptr<MainQueue> mainQueue,
                                                     LocalOllamaServerOptions options = {});

    // Returns at once; does nothing while starting or ready. Safe from any thread.
    void start(Callback onReady) override;
    void maintain(Callback onReady) override;

    // The variables set for the child over anything inherited.
    static std::vector<std::pair<std::string, std::string>> childEnvironmentOverrides();

  private:
    LocalOllamaServer(std::shared_ptr<MainQueue> mainQueue, LocalOllamaServerOptions options);

    // Healthy only with HTTP 200 for /api/tags.
    bool healthCheck() override;
    // Whether /api/tags lists the polish model under exactly its name.
    bool modelAvailable();
    // On the start task's thread: model check, Ready, warm-up, onReady.
    void finishReady(const Callback& onReady, std::int64_t attempt);
    static void runStart(const std::weak_ptr<LocalOllamaServer>& weak, std::int64_t generation,
                         const Callback& onReady);

    const LocalOllamaServerOptions options_;
};

// Whether a /api/tags reply lists `model`: a JSON object whose "models" is an array of objects,
// one of which has a "name" string equal to `model` (case matters). Anything else is false.
bool ollamaTagsListModel(std::string_view body, std::string_view model);

}  // namespace vurin
