#pragma once

#include <functional>

namespace vurin {

// A supervised local model service (whisper-server, ollama) as the controller sees it.
// `onReady` and `onRecovered` are delivered on the main queue.
class LocalService {
  public:
    using Callback = std::function<void()>;

    virtual ~LocalService() = default;

    // Starts the service if it is neither starting nor ready; cheap and idempotent.
    virtual void maintain(Callback onReady) = 0;
    virtual void start(Callback onReady) = 0;
    virtual bool isReady() const = 0;
    // Checks health after a failed request and restarts the service when it is down.
    virtual void recoverIfUnhealthy(Callback onRecovered) = 0;
    virtual void stop() = 0;
};

}  // namespace vurin
