#include "audio/recorder.h"

#include <system_error>
#include <utility>

#include "audio/audio_convert.h"
#include "audio/capture_file.h"
#include "audio/capture_source_choice.h"
#include "audio/recording_files.h"
#include "support/log.h"

namespace vurin {

namespace {

namespace fs = std::filesystem;

void removeQuietly(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
}

// A source whose format the capture file and the converter cannot take.
bool isRecordableFormat(const AudioFormat& format) {
    return format.sampleRate >= 1000 && format.sampleRate <= 768000 && format.channels >= 1 &&
           format.channels <= 32;
}

// The sound server is the microphone grant here: without a reachable server that has an input
// source there is nothing to prepare, and nothing to complain about before the user asks.
bool microphoneAvailable(const AudioSourceList& list) {
    return list.status == AudioServerStatus::ok && !list.sources.empty();
}

}  // namespace

void Recorder::CaptureOutput::close() {
    if (stream) {
        stream->close();
    }
    if (file) {
        file->close();
    }
}

std::shared_ptr<Recorder> Recorder::create(std::shared_ptr<AudioCapture> capture,
                                           RecorderOptions options) {
    return std::shared_ptr<Recorder>(new Recorder(std::move(capture), options));
}

Recorder::Recorder(std::shared_ptr<AudioCapture> capture, RecorderOptions options)
    : capture_(std::move(capture)),
      options_(options),
      finished_(std::make_shared<Semaphore>(0)),
      fileURL_(makeFileURL()) {}

Recorder::~Recorder() {
    tasks_.waitAll();
    std::lock_guard guard(lock_);
    if (isRecording_ && output_) {
        output_->close();
        if (rawURL_) {
            removeQuietly(*rawURL_);
        }
    }
}

void Recorder::waitForBackgroundTasks() {
    tasks_.waitAll();
}

bool Recorder::isRecording() const {
    std::lock_guard guard(lock_);
    return isRecording_;
}

void Recorder::warmUp(bool useBuiltInMic) {
    tasks_.run([weak = weak_from_this(), useBuiltInMic] {
        if (auto self = weak.lock()) {
            self->warmUpTask(useBuiltInMic);
        }
    });
}

void Recorder::warmUpTask(bool useBuiltInMic) {
    std::lock_guard guard(lock_);
    if (isRecording_) {
        return;
    }
    if (session_ && sessionUsesBuiltIn_ == useBuiltInMic) {
        return;
    }
    const AudioSourceList list = capture_->listSources();
    if (microphoneAvailable(list)) {
        ensureSessionLocked(useBuiltInMic, &list);
    }
}

bool Recorder::ensureSessionLocked(bool useBuiltInMic, const AudioSourceList* listed) {
    if (session_ && sessionUsesBuiltIn_ == useBuiltInMic) {
        return true;
    }
    session_.reset();
    sessionUsesBuiltIn_.reset();

    AudioSourceList fetched;
    if (listed == nullptr) {
        fetched = capture_->listSources();
        listed = &fetched;
    }
    const CaptureSourceChoice choice = chooseCaptureSource(*listed, useBuiltInMic);
    if (choice.builtInMissing) {
        log("⚠️ 找不到内置麦克风,改用系统默认输入");
    }
    if (choice.source == nullptr) {
        log("❌ 找不到可用的录音设备");
        return false;
    }
    const AudioFormat format{choice.source->sampleRate, choice.source->channels};
    if (!isRecordableFormat(format)) {
        log("❌ 无法配置录音会话");
        return false;
    }
    session_ = CaptureSession{choice.source->name, format};
    sessionUsesBuiltIn_ = useBuiltInMic;
    return true;
}

std::shared_ptr<Recorder::CaptureOutput> Recorder::openOutputLocked(
    const fs::path& rawURL, const std::shared_ptr<Semaphore>& finished) {
    auto output = std::make_shared<CaptureOutput>();
    std::string error;
    output->file = CaptureFile::create(rawURL, session_->format, error);
    if (!output->file) {
        log("❌ 无法创建录音文件:" + error);
        return nullptr;
    }
    AudioCaptureStream::Handlers handlers;
    handlers.onFrames = [file = output->file](const float* samples, std::size_t frames) {
        file->append(samples, frames);
    };
    handlers.onEnded = [file = output->file, finished](const std::string& endError) {
        file->close();
        const std::string fileError = file->writeError();
        if (!endError.empty() || !fileError.empty()) {
            log("⚠️ 录音结束时报错:" + (endError.empty() ? fileError : endError));
        }
        finished->release();
    };
    AudioCaptureOpenResult opened =
        capture_->open(session_->sourceName, session_->format, std::move(handlers));
    if (!opened.stream) {
        log("❌ 打开麦克风失败:" + opened.error);
        output->file->close();
        removeQuietly(rawURL);
        // The source may be gone for good (a headset unplugged): choose again next time.
        session_.reset();
        sessionUsesBuiltIn_.reset();
        return nullptr;
    }
    output->stream = std::move(opened.stream);
    return output;
}

bool Recorder::start(bool useBuiltInMic) {
    std::lock_guard guard(lock_);
    if (isRecording_) {
        return false;
    }
    if (!ensureSessionLocked(useBuiltInMic) || !session_) {
        return false;
    }
    const fs::path fileURL = makeFileURL();
    const fs::path rawURL = captureFileURL(fileURL);
    removeQuietly(fileURL);
    removeQuietly(rawURL);
    auto finished = std::make_shared<Semaphore>(0);
    auto output = openOutputLocked(rawURL, finished);
    if (!output) {
        return false;
    }
    fileURL_ = fileURL;
    finished_ = std::move(finished);
    output_ = std::move(output);
    rawURL_ = rawURL;
    isRecording_ = true;
    return true;
}

void Recorder::stop(StopCompletion completion) {
    FinishingRecording recording;
    {
        std::lock_guard guard(lock_);
        if (isRecording_ && output_ && session_ && rawURL_) {
            recording = {*rawURL_, fileURL_, finished_, std::move(output_)};
            output_.reset();
            isRecording_ = false;
        }
    }
    if (!recording.output) {
        completion(std::nullopt, 0.0);
        return;
    }
    recording.output->stream->requestStop();
    tasks_.run([weak = weak_from_this(), recording, timeout = options_.finishTimeout,
                completion = std::move(completion)] {
        finishRecording(weak, recording, timeout, completion);
    });
}

void Recorder::finishRecording(const std::weak_ptr<Recorder>& weak,
                               const FinishingRecording& recording,
                               std::chrono::milliseconds timeout,
                               const StopCompletion& completion) {
    if (!recording.finished->try_acquire_for(timeout)) {
        log("⚠️ 录音文件落盘超时");
    }
    // Whatever the capture did, no frame reaches the file after this, and its header is final.
    recording.output->close();
    if (auto self = weak.lock()) {
        std::lock_guard guard(self->lock_);
        // A newer recording may already have started: its capture file is not ours to forget.
        if (self->rawURL_ == recording.rawURL) {
            self->rawURL_.reset();
        }
    }
    const double duration = downsampleTo16k(recording.rawURL, recording.fileURL);
    removeQuietly(recording.rawURL);
    if (duration > 0) {
        completion(recording.fileURL, duration);
    } else {
        completion(std::nullopt, duration);
    }
}

}  // namespace vurin
