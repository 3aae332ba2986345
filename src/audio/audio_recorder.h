#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>

namespace vurin {

// What a stop leaves: the converted 16 kHz file (owned and deleted by the receiver) or nothing,
// its duration and the level of its loudest sample, measured as it was written; `failureLogged`
// when there is nothing because the microphone failed to open, which the recorder has logged.
struct RecordingResult {
    std::optional<std::filesystem::path> file;
    double seconds = 0;
    float peakDBFS = -120.0f;
    bool failureLogged = false;
};

// What the controller needs from the microphone recorder.
class AudioRecorder {
  public:
    // Called once per stop, on a background thread when a recording was running.
    using StopCompletion = std::function<void(RecordingResult result)>;

    virtual ~AudioRecorder() = default;

    // Prepares the source in the background so that a later start only starts capturing.
    virtual void warmUp(bool useBuiltInMic) = 0;
    // True when the recording began. The microphone may still fail to open after that: the
    // failure logs its own line, ends the recording and calls the open-failure handler.
    virtual bool start(bool useBuiltInMic) = 0;
    // Called on a background thread when a started recording's microphone could not be opened.
    virtual void setOpenFailureHandler(std::function<void()> handler) = 0;
    virtual bool isRecording() const = 0;
    virtual void stop(StopCompletion completion) = 0;
    // Waits up to `limit` for the stops started so far and the work their completions do; false
    // when some are still running.
    virtual bool waitForBackgroundTasks(std::chrono::milliseconds limit) = 0;
};

}  // namespace vurin
