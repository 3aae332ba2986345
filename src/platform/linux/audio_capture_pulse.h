#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/audio_capture.h"

namespace vurin {

class PulseConnection;

// Who waits for the calls. Off the main thread a first connection may take seconds (a server
// socket-activated at login); on the main thread a whole call, connecting included, waits no
// longer than one exchange with a stalled server may.
enum class PulseCaller { background, mainThread };

// The sound server through libpulse: PulseAudio itself, or PipeWire through pipewire-pulse.
// One connection (its own main-loop thread) is made on first use and kept; it is made again
// when the server went away. Never starts a sound server of its own.
class PulseAudioCapture : public AudioCapture {
  public:
    explicit PulseAudioCapture(PulseCaller caller = PulseCaller::background);
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

    const PulseCaller caller_;
    std::mutex mutex_;
    std::shared_ptr<PulseConnection> connection_;
    bool failureReported_ = false;  // the server is said to be unreachable once, not per attempt
};

}  // namespace vurin
