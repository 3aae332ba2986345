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
// The source and its format are chosen ahead of time (warmUp), so start only opens the capture.
class Recorder final : public AudioRecorder, public std::enable_shared_from_this<Recorder> {
  public:
    static std::shared_ptr<Recorder> create(std::shared_ptr<AudioCapture> capture,
                                            RecorderOptions options = {});
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void warmUp(bool useBuiltInMic) override;
    bool start(bool useBuiltInMic) override;
    bool isRecording() const override;
    void stop(StopCompletion completion) override;

    // Waits for the warm-ups and stops started so far (shutdown, tests).
    void waitForBackgroundTasks();

  private:
    // The chosen source and the format it is recorded in; kept between recordings.
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
    // What a stop hands to its background task.
    struct FinishingRecording {
        std::filesystem::path rawURL;
        std::filesystem::path fileURL;
        std::shared_ptr<Semaphore> finished;
        std::shared_ptr<CaptureOutput> output;
    };

    Recorder(std::shared_ptr<AudioCapture> capture, RecorderOptions options);

    // Must be called with `lock` held. `listed` is a source list already fetched, if any.
    bool ensureSessionLocked(bool useBuiltInMic, const AudioSourceList* listed = nullptr);
    std::shared_ptr<CaptureOutput> openOutputLocked(const std::filesystem::path& rawURL,
                                                    const std::shared_ptr<Semaphore>& finished);
    void warmUpTask(bool useBuiltInMic);
    static void finishRecording(const std::weak_ptr<Recorder>& weak, const FinishingRecording& rec,
                                std::chrono::milliseconds timeout,
                                const StopCompletion& completion);

    const std::shared_ptr<AudioCapture> capture_;
    const RecorderOptions options_;

    std::optional<CaptureSession> session_;
    std::shared_ptr<CaptureOutput> output_;
    std::optional<bool> sessionUsesBuiltIn_;
    std::optional<std::filesystem::path> rawURL_;
    std::shared_ptr<Semaphore> finished_;
    mutable std::mutex lock_;
    std::filesystem::path fileURL_;
    bool isRecording_ = false;

    BackgroundTasks tasks_;
};

}  // namespace vurin
