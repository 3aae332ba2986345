#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>

#include "audio/audio_recorder.h"
#include "audio/background_tasks.h"
#include "platform/audio_capture.h"

namespace vurin {

class CaptureFile;

struct RecorderOptions {
    // How long a stop waits for the capture to complete its file before converting anyway.
    std::chrono::milliseconds finishTimeout{3000};
};

// Records the microphone into "vurin-UUID.raw.wav" (the source's own format) while the trigger
// is held, and on stop hands over "vurin-UUID.wav" (16 kHz mono 16-bit) and its duration.
//
// Nothing here waits for the sound server on the caller's thread or under `lock_`: a stalled
// server must not freeze the interface. start() only claims the recording; the source is chosen
// and opened on a background task, whose failure is logged there, and a stop that comes first
// waits for that open (bounded by the capture's own time limit) before ending the capture.
class Recorder final : public AudioRecorder, public std::enable_shared_from_this<Recorder> {
  public:
    static std::shared_ptr<Recorder> create(std::shared_ptr<AudioCapture> capture,
                                            RecorderOptions options = {});
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void warmUp(bool useBuiltInMic) override;
    // False only while a recording runs. The capture opens in the background.
    bool start(bool useBuiltInMic) override;
    bool isRecording() const override;
    void setOpenFailureHandler(std::function<void()> handler) override;
    void stop(StopCompletion completion) override;

    // Waits for the warm-ups, opens and stops started so far (shutdown, tests).
    void waitForBackgroundTasks();
    bool waitForBackgroundTasks(std::chrono::milliseconds limit) override;

  private:
    // The chosen source and the format it is recorded in.
    struct CaptureSession {
        std::string sourceName;
        AudioFormat format;
    };
    // One running capture and the file it fills.
    struct CaptureOutput {
        std::shared_ptr<CaptureFile> file;
        std::unique_ptr<AudioCaptureStream> stream;
        void close();
    };
    using Semaphore = std::counting_semaphore<>;
    // One recording, from start until its stop has finished with it. `output` is written once by
    // the open task before it releases `opened`, and read only after acquiring it.
    struct Recording {
        std::filesystem::path fileURL;
        std::shared_ptr<Semaphore> finished = std::make_shared<Semaphore>(0);
        std::binary_semaphore opened{0};
        std::shared_ptr<CaptureOutput> output;  // null: the open failed, or never ran
        bool openFailed = false;                // the open failed and said why
    };

    Recorder(std::shared_ptr<AudioCapture> capture, RecorderOptions options);

    // The source for a request from a fresh list (logging why there is none). No lock held.
    static std::optional<CaptureSession> chooseSession(const AudioSourceList& list,
                                                       bool useBuiltInMic);
    // The session a recording uses: the built-in microphone as prepared, the default source as
    // the server names it now (the user may have switched it since). No lock held.
    std::optional<CaptureSession> sessionFor(bool useBuiltInMic);
    void openTask(const std::shared_ptr<Recording>& recording, bool useBuiltInMic);
    std::shared_ptr<CaptureOutput> openOutput(const CaptureSession& session,
                                              const Recording& recording);
    void warmUpTask(bool useBuiltInMic);
    static void finishRecording(const std::weak_ptr<Recorder>& weak,
                                const std::shared_ptr<Recording>& recording,
                                std::chrono::milliseconds timeout,
                                const StopCompletion& completion);

    const std::shared_ptr<AudioCapture> capture_;
    const RecorderOptions options_;

    std::optional<CaptureSession> session_;
    std::optional<bool> sessionUsesBuiltIn_;
    std::shared_ptr<Recording> recording_;  // until its stop has finished waiting for the file
    mutable std::mutex lock_;
    std::filesystem::path fileURL_;
    bool isRecording_ = false;
    // The last recording started ended because its microphone failed to open.
    bool lastOpenFailed_ = false;
    std::function<void()> onOpenFailed_;

    BackgroundTasks tasks_;
};

}  // namespace vurin
