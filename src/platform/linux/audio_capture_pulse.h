#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/audio_capture.h"

namespace vurin {

class PulseConnection;

// The sound server through libpulse: PulseAudio itself, or PipeWire through pipewire-pulse.
// One connection (its own main-loop thread) is made on first use and kept; it is made again
// when the server went away. Never starts a sound server of its own.
class PulseAudioCapture : public AudioCapture {
  public:
    PulseAudioCapture();
    ~PulseAudioCapture() override;
    PulseAudioCapture(const PulseAudioCapture&) = delete;
    PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

    AudioSourceList listSources() override;
    AudioCaptureOpenResult open(const std::string& sourceName, AudioFormat format,
                                AudioCaptureStream::Handlers handlers) override;

  private:
    // The live connection, connecting when there is none. Null with `error` set on failure.
    std::shared_ptr<PulseConnection> connection(std::string& error);
    void forgetConnection(const std::shared_ptr<PulseConnection>& broken);

    std::mutex mutex_;
    std::shared_ptr<PulseConnection> connection_;
    bool failureReported_ = false;  // the server is said to be unreachable once, not per attempt
};

}  // namespace vurin
