#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_capture.h"
#include "platform/linux/pulse_connection.h"

namespace vurin {

// A record stream on one named source, delivering FLOAT32LE frames at the rate asked for.
// Its callbacks run on the connection's main-loop thread.
class PulseCaptureStream : public AudioCaptureStream {
  public:
    PulseCaptureStream(std::shared_ptr<PulseConnection> connection, Handlers handlers);
    ~PulseCaptureStream() override;
    PulseCaptureStream(const PulseCaptureStream&) = delete;
    PulseCaptureStream& operator=(const PulseCaptureStream&) = delete;

    // Connects to `sourceName` and waits (bounded) until the server streams. False, `error` set,
    // when the source cannot be recorded.
    bool connect(const std::string& sourceName, AudioFormat format, std::string& error);

    void requestStop() override;
    void close() override;

  private:
    static void onState(pa_stream* stream, void* self);
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onCorked(pa_stream* stream, int success, void* self);
    // Main loop lock held from here on.
    void readAvailable();
    void end(const std::string& error);
    void logIfSuspended();

    std::shared_ptr<PulseConnection> connection_;
    Handlers handlers_;
    pa_stream* stream_ = nullptr;
    std::string sourceName_;
    std::size_t frameBytes_ = 0;
    std::vector<float> buffer_;
    std::atomic<pa_stream_state_t> state_{PA_STREAM_UNCONNECTED};
    bool running_ = false;
    bool stopping_ = false;
    bool ended_ = false;
    PulseOperation cork_;
};

}  // namespace vurin
