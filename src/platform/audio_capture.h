#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vurin {

// One input source of the sound server, as the server describes it.
struct AudioSourceInfo {
    std::string name;         // the server's name; what open() takes
    std::string description;  // for people ("Built-in Audio Analog Stereo")
    bool isMonitor = false;   // records what a sink plays, never a microphone
    std::string formFactor;   // device.form_factor: "internal", "headset", "webcam", ... or ""
    std::string bus;          // device.bus: "pci", "usb", "bluetooth", ... or ""
    std::string api;          // device.api: "alsa", "bluez5", ... or ""
    int sampleRate = 0;       // native rate in Hz
    int channels = 0;         // native channel count (0: the source has no input)
    bool muted = false;
};

enum class AudioServerStatus {
    ok,
    unavailable,  // no sound server reachable, or it stopped answering
};

struct AudioSourceList {
    AudioServerStatus status = AudioServerStatus::ok;
    std::string reason;                    // one line for the log when unavailable
    std::vector<AudioSourceInfo> sources;  // in the server's order
    std::string defaultSourceName;         // may be empty, or name a source that is gone
};

// The sample layout a capture delivers: interleaved 32-bit float frames.
struct AudioFormat {
    int sampleRate = 0;
    int channels = 0;
};

// A running capture of one source.
class AudioCaptureStream {
  public:
    struct Handlers {
        // Interleaved frames (channels floats each, full scale 1.0), on the capture thread, in
        // capture order. Must return quickly.
        std::function<void(const float* samples, std::size_t frames)> onFrames;
        // At most once, after the last onFrames: the capture is complete. Runs on the capture
        // thread, or inside requestStop() when the capture can no longer be stopped in order.
        // `error` is empty when it ended because requestStop() asked for it, else it says why the
        // capture broke off (source removed, server gone, ...).
        std::function<void(const std::string& error)> onEnded;
    };

    // Closes the capture (as close()).
    virtual ~AudioCaptureStream() = default;

    // Any thread but the capture thread; returns at once. Stops capturing, delivers what was
    // captured up to now, then calls onEnded.
    virtual void requestStop() = 0;

    // Any thread but the capture thread. Tears the capture down whether or not it has ended:
    // once this returns no handler runs any more. Idempotent.
    virtual void close() = 0;
};

struct AudioCaptureOpenResult {
    std::unique_ptr<AudioCaptureStream> stream;  // null on failure
    std::string error;                           // one line for the log on failure
};

// The sound server's input side. Implementations: PulseAudio/PipeWire (audio_capture_pulse.cpp),
// fakes in tests. Calls block for a bounded time and may come from any thread.
class AudioCapture {
  public:
    virtual ~AudioCapture() = default;

    virtual AudioSourceList listSources() = 0;

    // Starts capturing the source named `sourceName` (by name only: never another source, and
    // never moved elsewhere when it goes away) in `format`, which should be the source's native
    // rate and channel count so the server does not convert. Returns once capture is running.
    virtual AudioCaptureOpenResult open(const std::string& sourceName, AudioFormat format,
                                        AudioCaptureStream::Handlers handlers) = 0;
};

}  // namespace vurin
