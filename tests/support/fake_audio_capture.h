#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/audio_capture.h"
#include "support/testing.h"

namespace vurin::test {

// A capture stream the test drives through its handlers; unless told not to, it ends on
// requestStop.
struct FakeStreamState {
    AudioCaptureStream::Handlers handlers;
    bool endOnRequestStop = true;
    std::string errorAtEnd;
    bool closed = false;
    std::function<void()> onRequestStop = [] {};  // runs inside requestStop, before any end
};

class FakeCaptureStream : public AudioCaptureStream {
  public:
    explicit FakeCaptureStream(std::shared_ptr<FakeStreamState> state) : state_(std::move(state)) {}
    ~FakeCaptureStream() override { close(); }

    void requestStop() override {
        state_->onRequestStop();
        if (state_->endOnRequestStop) {
            state_->handlers.onEnded(state_->errorAtEnd);
        }
    }
    void close() override { state_->closed = true; }

  private:
    std::shared_ptr<FakeStreamState> state_;
};

// A sound server with a fixed list of sources; the public fields change only between recordings.
// The recorder calls it from background tasks: `stream(i)` waits for the i-th capture.
class FakeAudioCapture : public AudioCapture {
  public:
    AudioSourceList listSources() override {
        beforeEachCall();
        std::lock_guard guard(mutex_);
        ++listCalls_;
        return sources_;
    }
    AudioCaptureOpenResult open(const std::string& sourceName, AudioFormat format,
                                AudioCaptureStream::Handlers handlers) override {
        beforeEachCall();
        std::lock_guard guard(mutex_);
        opens.push_back(sourceName + " " + std::to_string(format.sampleRate) + "/" +
                        std::to_string(format.channels));
        if (openError) {
            return {nullptr, *openError};
        }
        auto state = streams.emplace_back(std::make_shared<FakeStreamState>());
        state->handlers = std::move(handlers);
        return {std::make_unique<FakeCaptureStream>(state), {}};
    }
    void setSources(AudioSourceList list) {
        std::lock_guard guard(mutex_);
        sources_ = std::move(list);
    }
    int listCalls() const { return listCalls_; }
    std::shared_ptr<FakeStreamState> stream(std::size_t index) {
        const auto opened = [&] {
            std::lock_guard guard(mutex_);
            return streams.size() > index;
        };
        return testing::eventually(opened) ? streams[index] : nullptr;
    }

    std::optional<std::string> openError;
    std::vector<std::string> opens;  // "source rate/channels"
    std::vector<std::shared_ptr<FakeStreamState>> streams;
    std::function<void()> beforeEachCall = [] {};  // may block, as a stalled server does

  private:
    std::mutex mutex_;
    AudioSourceList sources_;
    std::atomic<int> listCalls_ = 0;
};

}  // namespace vurin::test
