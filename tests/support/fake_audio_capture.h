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
// requestStop (by default, synchronously) or only when the test calls end().
class FakeCaptureStream : public AudioCaptureStream {
  public:
    struct State {
        std::mutex mutex;
        AudioCaptureStream::Handlers handlers;
        bool endOnRequestStop = true;
        std::string errorAtEnd;
        bool stopRequested = false;
        bool ended = false;
        bool closed = false;
        std::function<void()> onRequestStop;  // runs inside requestStop, before any end

        bool isClosed() {
            std::lock_guard guard(mutex);
            return closed;
        }
        bool wasStopRequested() {
            std::lock_guard guard(mutex);
            return stopRequested;
        }
    };

    explicit FakeCaptureStream(std::shared_ptr<State> state) : state_(std::move(state)) {}
    ~FakeCaptureStream() override { close(); }

    void requestStop() override {
        std::function<void()> hook;
        bool endNow = false;
        {
            std::lock_guard guard(state_->mutex);
            state_->stopRequested = true;
            hook = state_->onRequestStop;
            endNow = state_->endOnRequestStop;
        }
        if (hook) {
            hook();
        }
        if (endNow) {
            end(*state_);
        }
    }
    void close() override {
        std::lock_guard guard(state_->mutex);
        state_->closed = true;
    }

    // Delivers frames unless the stream is closed or ended (as a real capture would).
    static void deliver(State& state, const std::vector<float>& samples, std::size_t frames) {
        std::lock_guard guard(state.mutex);
        if (!state.closed && !state.ended) {
            state.handlers.onFrames(samples.data(), frames);
        }
    }
    static void end(State& state) {
        std::lock_guard guard(state.mutex);
        if (!state.closed && !state.ended) {
            state.ended = true;
            state.handlers.onEnded(state.errorAtEnd);
        }
    }

  private:
    std::shared_ptr<State> state_;
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
        return sources_;
    }

    AudioCaptureOpenResult open(const std::string& sourceName, AudioFormat format,
                                AudioCaptureStream::Handlers handlers) override {
        std::lock_guard guard(mutex_);
        opens_.push_back({sourceName, format});
        if (openError_) {
            return {nullptr, *openError_};
        }
        auto state = std::make_shared<FakeCaptureStream::State>();
        state->handlers = std::move(handlers);
        state->endOnRequestStop = endOnRequestStop_;
        state->errorAtEnd = errorAtEnd_;
        streams_.push_back(state);
        return {std::make_unique<FakeCaptureStream>(state), {}};
    }

    void setSources(AudioSourceList sources) {
        std::lock_guard guard(mutex_);
        sources_ = std::move(sources);
    }
    void setOpenError(std::optional<std::string> error) {
        std::lock_guard guard(mutex_);
        openError_ = std::move(error);
    }
    // Streams opened from now on end only when the test calls end().
    void setEndOnRequestStop(bool value) {
        std::lock_guard guard(mutex_);
        endOnRequestStop_ = value;
    }
    void setErrorAtEnd(std::string error) {
        std::lock_guard guard(mutex_);
        errorAtEnd_ = std::move(error);
    }
    int listCalls() {
        std::lock_guard guard(mutex_);
        return listCalls_;
    }
    std::vector<OpenCall> opens() {
        std::lock_guard guard(mutex_);
        return opens_;
    }
    std::shared_ptr<FakeCaptureStream::State> stream(std::size_t index) {
        std::lock_guard guard(mutex_);
        return index < streams_.size() ? streams_[index] : nullptr;
    }

  private:
    std::mutex mutex_;
    AudioSourceList sources_;
    std::optional<std::string> openError_;
    bool endOnRequestStop_ = true;
    std::string errorAtEnd_;
    int listCalls_ = 0;
    std::vector<OpenCall> opens_;
    std::vector<std::shared_ptr<FakeCaptureStream::State>> streams_;
};

}  // namespace vurin::test
