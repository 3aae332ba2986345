#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio_capture.h"

namespace vurin::test {

// A capture stream the test drives by hand: it delivers frames when told to, and ends either on
// requestStop (by default, synchronously) or only when the test calls end(). The test may set
// the fields while the stream is not stopping.
struct FakeStreamState {
    std::mutex mutex;
    AudioCaptureStream::Handlers handlers;
    bool endOnRequestStop = true;
    std::string errorAtEnd;
    bool stopRequested = false;
    bool ended = false;
    bool closed = false;
    std::function<void()> onRequestStop;  // runs inside requestStop, before any end

    // Delivers frames unless the stream is closed or ended, as a real capture would.
    void deliver(const std::vector<float>& samples, std::size_t frames) {
        std::lock_guard guard(mutex);
        if (!closed && !ended) {
            handlers.onFrames(samples.data(), frames);
        }
    }
    void end() {
        std::lock_guard guard(mutex);
        if (!closed && !ended) {
            ended = true;
            handlers.onEnded(errorAtEnd);
        }
    }
};

class FakeCaptureStream : public AudioCaptureStream {
  public:
    explicit FakeCaptureStream(std::shared_ptr<FakeStreamState> state) : state_(std::move(state)) {}
    ~FakeCaptureStream() override { close(); }

    void requestStop() override {
        std::unique_lock guard(state_->mutex);
        state_->stopRequested = true;
        const auto hook = state_->onRequestStop;
        const bool endNow = state_->endOnRequestStop;
        guard.unlock();
        if (hook) {
            hook();
        }
        if (endNow) {
            state_->end();
        }
    }
    void close() override {
        std::lock_guard guard(state_->mutex);
        state_->closed = true;
    }

  private:
    std::shared_ptr<FakeStreamState> state_;
};

// A sound server with a fixed list of sources.
class FakeAudioCapture : public AudioCapture {
  public:
    struct OpenCall {
        std::string sourceName;
        AudioFormat format;
    };

    AudioSourceList listSources() override {
        std::lock_guard guard(mutex_);
        ++listCalls_;
        return sources;
    }
    AudioCaptureOpenResult open(const std::string& sourceName, AudioFormat format,
                                AudioCaptureStream::Handlers handlers) override {
        std::lock_guard guard(mutex_);
        opens.push_back({sourceName, format});
        if (openError) {
            return {nullptr, *openError};
        }
        auto state = streams.emplace_back(std::make_shared<FakeStreamState>());
        state->handlers = std::move(handlers);
        return {std::make_unique<FakeCaptureStream>(state), {}};
    }

    // Changed or read only while no start, stop or warm-up runs.
    AudioSourceList sources;
    std::optional<std::string> openError;
    std::vector<OpenCall> opens;
    std::vector<std::shared_ptr<FakeStreamState>> streams;

    void setSources(AudioSourceList list) {
        std::lock_guard guard(mutex_);
        sources = std::move(list);
    }
    int listCalls() {
        std::lock_guard guard(mutex_);
        return listCalls_;
    }

  private:
    std::mutex mutex_;
    int listCalls_ = 0;
};

}  // namespace vurin::test
