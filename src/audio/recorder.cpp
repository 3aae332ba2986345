#include "audio/recorder.h"

#include <algorithm>
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
// source there is nothing to prepare, and nothing to complain about before the user asks. A
// machine without a microphone still lists the monitors, one of them as the default source.
bool microphoneAvailable(const AudioSourceList& list) {
    return list.status == AudioServerStatus::ok &&
           std::any_of(list.sources.begin(), list.sources.end(), hasInput);
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
    : capture_(std::move(capture)), options_(options), fileURL_(makeFileURL()) {}

Recorder::~Recorder() {
    tasks_.waitAll();
    std::lock_guard guard(lock_);
    if (isRecording_ && recording_) {
        if (recording_->output) {
            recording_->output->close();
        }
        removeQuietly(recording_->fileURL);
    }
}

void Recorder::waitForBackgroundTasks() {
    tasks_.waitAll();
}

bool Recorder::waitForBackgroundTasks(std::chrono::milliseconds limit) {
    return tasks_.waitAllFor(limit);
}

bool Recorder::isRecording() const {
    std::lock_guard guard(lock_);
    return isRecording_;
}

void Recorder::setOpenFailureHandler(std::function<void()> handler) {
    std::lock_guard guard(lock_);
    onOpenFailed_ = std::move(handler);
}

void Recorder::warmUp(bool useBuiltInMic) {
    tasks_.run([weak = weak_from_this(), useBuiltInMic] {
        if (auto self = weak.lock()) {
            self->warmUpTask(useBuiltInMic);
        }
    });
}

void Recorder::warmUpTask(bool useBuiltInMic) {
    {
        std::lock_guard guard(lock_);
        if (isRecording_ || (session_ && sessionUsesBuiltIn_ == useBuiltInMic)) {
            return;
        }
    }
    const AudioSourceList list = capture_->listSources();
    if (!microphoneAvailable(list)) {
        return;
    }
    auto session = chooseSession(list, useBuiltInMic);
    std::lock_guard guard(lock_);
    if (session && !isRecording_) {
        session_ = std::move(session);
        sessionUsesBuiltIn_ = useBuiltInMic;
    }
}

std::optional<Recorder::CaptureSession> Recorder::chooseSession(const AudioSourceList& list,
                                                                bool useBuiltInMic) {
    const CaptureSourceChoice choice = chooseCaptureSource(list, useBuiltInMic);
    if (choice.builtInMissing) {
        log("⚠️ 找不到内置麦克风,改用系统默认输入");
    }
    if (choice.source == nullptr) {
        log("❌ 找不到可用的录音设备");
        return std::nullopt;
    }
    const AudioFormat format{choice.source->sampleRate, choice.source->channels};
    if (!isRecordableFormat(format)) {
        log("❌ 无法配置录音会话");
        return std::nullopt;
    }
    return CaptureSession{choice.source->name, format};
}

std::optional<Recorder::CaptureSession> Recorder::sessionFor(bool useBuiltInMic) {
    {
        std::lock_guard guard(lock_);
        if (useBuiltInMic && session_ && sessionUsesBuiltIn_ == true) {
            return session_;
        }
    }
    auto session = chooseSession(capture_->listSources(), useBuiltInMic);
    std::lock_guard guard(lock_);
    session_ = session;
    sessionUsesBuiltIn_ = session ? std::optional(useBuiltInMic) : std::nullopt;
    return session;
}

std::shared_ptr<Recorder::CaptureOutput> Recorder::openOutput(const CaptureSession& session,
                                                              const Recording& recording) {
    auto output = std::make_shared<CaptureOutput>();
    std::string error;
    output->file = CaptureFile::create(recording.fileURL, session.format, error);
    if (!output->file) {
        log("❌ 无法创建录音文件:" + error);
        return nullptr;
    }
    AudioCaptureStream::Handlers handlers;
    handlers.onFrames = [file = output->file](const float* samples, std::size_t frames) {
        file->append(samples, frames);
    };
    handlers.onEnded = [file = output->file,
                        finished = recording.finished](const std::string& endError) {
        file->close();
        const std::string fileError = file->writeError();
        if (!endError.empty() || !fileError.empty()) {
            log("⚠️ 录音结束时报错:" + (endError.empty() ? fileError : endError));
        }
        finished->release();
    };
    AudioCaptureOpenResult opened =
        capture_->open(session.sourceName, session.format, std::move(handlers));
    if (!opened.stream) {
        log("❌ 打开麦克风失败:" + opened.error);
        output->file->close();
        removeQuietly(recording.fileURL);
        // The source may be gone for good (a headset unplugged): choose again next time.
        std::lock_guard guard(lock_);
        session_.reset();
        sessionUsesBuiltIn_.reset();
        return nullptr;
    }
    output->stream = std::move(opened.stream);
    return output;
}

void Recorder::openTask(const std::shared_ptr<Recording>& recording, bool useBuiltInMic) {
    if (const auto session = sessionFor(useBuiltInMic)) {
        recording->output = openOutput(*session, *recording);
    }
    std::function<void()> onOpenFailed;
    if (!recording->output) {
        // Nothing will be recorded: end the recording now rather than at the release, so the
        // caller can leave its recording state while the trigger is still held.
        std::lock_guard guard(lock_);
        if (recording_ == recording && isRecording_) {
            isRecording_ = false;
            lastOpenFailed_ = true;
            recording_.reset();
            onOpenFailed = onOpenFailed_;
        }
    }
    recording->openFailed = !recording->output;
    recording->opened.release();
    if (onOpenFailed) {
        onOpenFailed();
    }
}

bool Recorder::start(bool useBuiltInMic) {
    auto recording = std::make_shared<Recording>();
    recording->fileURL = makeFileURL();
    {
        std::lock_guard guard(lock_);
        if (isRecording_) {
            return false;
        }
        fileURL_ = recording->fileURL;
        recording_ = recording;
        isRecording_ = true;
        lastOpenFailed_ = false;
    }
    removeQuietly(recording->fileURL);
    tasks_.run([weak = weak_from_this(), recording, useBuiltInMic] {
        if (auto self = weak.lock()) {
            self->openTask(recording, useBuiltInMic);
        } else {
            recording->opened.release();
        }
    });
    return true;
}

void Recorder::stop(StopCompletion completion) {
    std::shared_ptr<Recording> recording;
    bool openFailed = false;
    {
        std::lock_guard guard(lock_);
        if (isRecording_ && recording_) {
            recording = recording_;
            isRecording_ = false;
        }
        // The caller saw a recording that has just ended this way.
        openFailed = lastOpenFailed_;
    }
    if (!recording) {
        completion({.failureLogged = openFailed});
        return;
    }
    tasks_.run([weak = weak_from_this(), recording, timeout = options_.finishTimeout,
                completion = std::move(completion)] {
        finishRecording(weak, recording, timeout, completion);
    });
}

void Recorder::finishRecording(const std::weak_ptr<Recorder>& weak,
                               const std::shared_ptr<Recording>& recording,
                               std::chrono::milliseconds timeout,
                               const StopCompletion& completion) {
    // The open ends within the capture's own time limit, successful or not.
    recording->opened.acquire();
    const auto& output = recording->output;
    if (output) {
        output->stream->requestStop();
        if (!recording->finished->try_acquire_for(timeout)) {
            log("⚠️ 录音文件落盘超时");
        }
        // Whatever the capture did, no frame reaches the file after this, and its header is
        // final.
        output->close();
    }
    if (auto self = weak.lock()) {
        std::lock_guard guard(self->lock_);
        // A newer recording may already have started: it is not ours to forget.
        if (self->recording_ == recording) {
            self->recording_.reset();
        }
    }
    if (!output) {
        completion({.failureLogged = recording->openFailed});
        return;
    }
    // Converted as it was captured: the file is complete now, and its level known.
    const double duration = output->file->seconds();
    completion({.file = duration > 0 ? std::optional(recording->fileURL) : std::nullopt,
                .seconds = duration,
                .peakDBFS = output->file->peakDBFS()});
}

}  // namespace vurin
