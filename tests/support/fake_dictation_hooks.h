#pragma once

#include <atomic>
#include <mutex>

#include "pipeline/dictation_job.h"
#include "platform/main_queue.h"

namespace vurin::testing {

// A job's application side: answers as the test sets it and records each hook call in order.
class FakeDictationHooks : public std::enable_shared_from_this<FakeDictationHooks> {
  public:
    std::atomic<bool> current{true}, localSTTReady{true}, localPolishReady{true};

    // Marks calls made on the main thread with " (main)".
    explicit FakeDictationHooks(std::shared_ptr<MainQueue> mainQueue = nullptr)
        : mainQueue_(std::move(mainQueue)) {}

    DictationHooks hooks() {
        auto self = shared_from_this();
        const auto noting = [self](const char* name) { return [self, name] { self->note(name); }; };
        return {.isCurrent = [self](std::int64_t) { return self->current.load(); },
                .isLocalSTTReady = [self] { return self->localSTTReady.load(); },
                .isLocalPolishReady = [self] { return self->localPolishReady.load(); },
                .localSTTRequestFailed = noting("localSTTRequestFailed"),
                .localPolishRequestFailed = noting("localPolishRequestFailed"),
                .setIdleIfCurrent =
                    [self](std::int64_t generation) {
                        self->note("setIdleIfCurrent " + std::to_string(generation));
                    },
                .warnLocalUnavailable = noting("warnLocalUnavailable"),
                .warnNotConfigured = noting("warnNotConfigured"),
                .inject = [self](const std::string& text) { self->note("inject " + text); }};
    }

    std::vector<std::string> calls() const {
        std::lock_guard guard(lock_);
        return calls_;
    }

  private:
    void note(std::string call) {
        if (mainQueue_ && mainQueue_->isMainThread()) {
            call += " (main)";
        }
        std::lock_guard guard(lock_);
        calls_.push_back(std::move(call));
    }

    std::shared_ptr<MainQueue> mainQueue_;
    mutable std::mutex lock_;
    std::vector<std::string> calls_;
};

}  // namespace vurin::testing
