#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "local_services/local_executables.h"
#include "local_services/service_constants.h"
#include "local_services/supervised_service.h"

namespace vurin {

// The product's whisper server and model; tests point them elsewhere.
struct LocalWhisperServerOptions : SupervisedServiceOptions {
    LocalWhisperServerOptions() : SupervisedServiceOptions{whisperPort, {}, findWhisperServerBin} {}
    std::function<std::filesystem::path()> modelPath = whisperModelPath;
    std::filesystem::path pkill = "/usr/bin/pkill";
};

// Supervises a `whisper-server` child on the loopback port: kills leftovers of earlier runs,
// launches it with the model, polls until it answers, reports readiness and notices its exit.
// A server someone else started on the port is never adopted.
class LocalWhisperServer final : public SupervisedService {
  public:
    static std::shared_ptr<LocalWhisperServer> create(std::shared_ptr<MainQueue> mainQueue,
                                                      LocalWhisperServerOptions options = {});

    // Returns at once; does nothing while starting or ready, or while our previous child is
    // still running. `onReady` runs on the main queue once the server answers.
    void start(Callback onReady) override;
    void maintain(Callback onReady) override { start(std::move(onReady)); }

  private:
    LocalWhisperServer(std::shared_ptr<MainQueue> mainQueue, LocalWhisperServerOptions options);

    // Any HTTP answer on "/" counts, whatever its status.
    bool healthCheck() override;
    // Ends processes whose command line looks like a whisper-server on our port, then gives
    // the port a moment to free up.
    void killOrphans();
    // The launch task, on a background thread; holds the server only for its short steps.
    static void launch(const std::weak_ptr<LocalWhisperServer>& weak,
                       const std::filesystem::path& executable, std::int64_t generation,
                       const Callback& onReady);

    const LocalWhisperServerOptions options_;
};

}  // namespace vurin
