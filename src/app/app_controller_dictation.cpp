#include <chrono>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <utility>

#include "app/app_controller.h"
#include "support/log.h"
#include "support/sound.h"

namespace vurin {

namespace {

constexpr double kMaxRecordingSeconds = 60.0;
constexpr double kMinRecordingSeconds = 0.4;
constexpr float kSilencePeakDBFS = -55.0F;
// How long quitting waits for a cancelled job and a dropped recording to end.
constexpr std::chrono::seconds kExitWait{2};

void deleteRecording(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

std::string formatted(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

void AppController::startRecording() {
    if (activePipelineCancellation_) {
        activePipelineCancellation_->cancel();
        activePipelineCancellation_.reset();
    }
    injectionAttempt_ += 1;
    pending_.reset();
    pipelineGeneration_->invalidate();
    if (!services_.recorder->start(config_.micDevice == "builtin")) {
        setAppState(AppState::idle);
        return;
    }
    setAppState(AppState::recording);
    playSound("Pop");
    log("🔴 录音中…(松开结束,最长 60 秒)");
    services_.injector->prepare();
    if (maxRecordTimer_) {
        maxRecordTimer_->cancel();
    }
    maxRecordTimer_ = services_.mainQueue->postAfter(kMaxRecordingSeconds, [weak = weakSelf()] {
        auto self = weak.lock();
        if (self && self->services_.recorder->isRecording()) {
            log("⏱ 达到 60 秒上限,自动截断");
            self->stopAndProcess();
        }
    });
}

void AppController::recordingOpenFailed() {
    // A newer press may have started a recording since; only a recording that ended this way
    // returns to idle, as a start that failed at once would have.
    if (appState_ != AppState::recording || services_.recorder->isRecording()) {
        return;
    }
    if (maxRecordTimer_) {
        maxRecordTimer_->cancel();
        maxRecordTimer_.reset();
    }
    setAppState(AppState::idle);
}

void AppController::stopAndProcess() {
    if (maxRecordTimer_) {
        maxRecordTimer_->cancel();
        maxRecordTimer_.reset();
    }
    if (!services_.recorder->isRecording()) {
        return;
    }
    RecordingContext context{.controller = weakSelf(),
                             .mainQueue = services_.mainQueue,
                             .generations = pipelineGeneration_,
                             .pipeline = services_.dictationPipeline,
                             .hooks = makeHooks(),
                             .cancellation = std::make_shared<PipelineCancellation>(),
                             .generation = pipelineGeneration_->current(),
                             .snapshot = PipelineConfigSnapshot(config_),
                             .released = std::chrono::steady_clock::now()};
    if (activePipelineCancellation_) {
        activePipelineCancellation_->cancel();
    }
    activePipelineCancellation_ = context.cancellation;
    inFlight_ += 1;
    services_.recorder->stop([context = std::move(context)](RecordingResult result) {
        recordingFinished(context, result);
    });
    // The recorder finishes on its own thread meanwhile: the icon, the window and the phone are
    // told after the stop is on its way, not before it.
    setAppState(AppState::transcribing);
}

// Runs on the recorder's background thread.
void AppController::recordingFinished(const RecordingContext& context,
                                      const RecordingResult& result) {
    const std::optional<std::filesystem::path>& file = result.file;
    if (context.controller.expired()) {
        // Nobody is left to process the audio; never leave the user's speech lying around.
        if (file) {
            deleteRecording(*file);
        }
        return;
    }
    if (!file) {
        if (!context.cancellation->isCancelled()) {
            // One failure, one line: a microphone that failed to open has said so.
            if (!result.failureLogged) {
                log("❌ 录音失败,没有可用音频");
            }
            postIdleIfCurrent(context);
        }
    } else if (context.cancellation->isCancelled() ||
               !context.generations->isCurrent(context.generation)) {
        deleteRecording(*file);
    } else {
        processRecording(context, *file, result);
    }
    postCompletionEpilogue(context);
}

void AppController::processRecording(const RecordingContext& context,
                                     const std::filesystem::path& file,
                                     const RecordingResult& result) {
    const double duration = result.seconds;
    if (duration < kMinRecordingSeconds) {
        const auto milliseconds = static_cast<long long>(std::trunc(duration * 1000.0));
        log("🗑 录音太短(" + std::to_string(milliseconds) + "ms),忽略");
        postIdleIfCurrent(context);
        deleteRecording(file);
        return;
    }
    const float peak = result.peakDBFS;
    if (peak < kSilencePeakDBFS) {
        log("🔇 检测到静音(峰值 " + formatted("%.0f", peak) +
            " dBFS),丢弃不转写(避免幻觉)。检查麦克风是否有声音。");
        playSound("Bottle");
        postIdleIfCurrent(context);
        deleteRecording(file);
        return;
    }
    log("⏹ 录音结束(" + formatted("%.1f", duration) + "s),转写中…");
    const DictationJob job{.audioURL = file,
                           .audioDuration = duration,
                           .generation = context.generation,
                           .snapshot = context.snapshot,
                           .cancellation = context.cancellation,
                           .released = context.released};
    context.mainQueue->post([weak = context.controller] {
        if (auto self = weak.lock()) {
            self->services_.injector->textComing();
        }
    });
    context.pipeline->run(job, context.hooks);
    deleteRecording(file);
}

void AppController::postIdleIfCurrent(const RecordingContext& context) {
    context.mainQueue->post([weak = context.controller, generation = context.generation] {
        auto self = weak.lock();
        if (self && self->pipelineGeneration_->isCurrent(generation)) {
            self->setAppState(AppState::idle);
        }
    });
}

void AppController::postCompletionEpilogue(const RecordingContext& context) {
    context.mainQueue->post([weak = context.controller, cancellation = context.cancellation] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->inFlight_ -= 1;
        if (self->activePipelineCancellation_ == cancellation) {
            self->activePipelineCancellation_.reset();
        }
        if (self->services_.settings) {
            self->services_.settings->refreshLatencyChart();
        }
    });
}

void AppController::cancelJobAndRecordingLimit() {
    if (activePipelineCancellation_) {
        activePipelineCancellation_->cancel();
        activePipelineCancellation_.reset();
    }
    if (maxRecordTimer_) {
        maxRecordTimer_->cancel();
        maxRecordTimer_.reset();
    }
}

void AppController::discardRecording() {
    services_.recorder->stop([](const RecordingResult& result) {
        if (result.file) {
            deleteRecording(*result.file);
        }
    });
}

// A job or a recording left running at the exit would go on into objects already destroyed:
// both are ended and given a bounded moment to finish.
void AppController::endDictationForExit() {
    cancelJobAndRecordingLimit();
    pipelineGeneration_->invalidate();
    if (services_.recorder->isRecording()) {
        discardRecording();
    }
    if (!services_.recorder->waitForBackgroundTasks(kExitWait)) {
        log("⚠️ 退出时录音或转写 2 秒内未结束");
    }
}

DictationHooks AppController::makeHooks() {
    const std::weak_ptr<AppController> weak = weakSelf();
    // Reaches the controller weakly: a hook of a job that outlives the controller does nothing.
    // Only for the hooks a job posts to the main queue.
    auto withSelf = [weak](auto&& body) {
        return [weak, body](auto&&... args) {
            if (auto self = weak.lock()) {
                return body(*self, args...);
            }
            using Result = decltype(body(std::declval<AppController&>(), args...));
            return Result();
        };
    };
    // The hooks a job calls on its own thread never reach the controller: holding it there,
    // even for a moment, could make the job its last owner when the exit drops it.
    auto recoverOnMain = [weak,
                          queue = services_.mainQueue](std::shared_ptr<LocalService> service) {
        return [weak, queue, service] {
            queue->post([weak, service] {
                if (weak.expired()) {
                    return;
                }
                service->recoverIfUnhealthy([weak] {
                    if (auto self = weak.lock()) {
                        self->maintainSelectedLocalServices();
                    }
                });
            });
        };
    };
    return DictationHooks{
        .isCurrent = [generations = pipelineGeneration_](
                         std::int64_t generation) { return generations->isCurrent(generation); },
        .isLocalSTTReady = [service = services_.localServer] { return service->isReady(); },
        .isLocalPolishReady = [service = services_.ollamaServer] { return service->isReady(); },
        .localSTTRequestFailed = recoverOnMain(services_.localServer),
        .localPolishRequestFailed = recoverOnMain(services_.ollamaServer),
        .setIdleIfCurrent = withSelf([](AppController& self, std::int64_t generation) {
            if (self.pipelineGeneration_->isCurrent(generation)) {
                self.setAppState(AppState::idle);
            }
        }),
        .warnLocalUnavailable = withSelf([](AppController& self) { self.warnLocalUnavailable(); }),
        .warnNotConfigured = withSelf([](AppController& self) { self.warnNotConfigured(); }),
        .inject = withSelf([](AppController& self, const std::string& text) {
            // Vurin's own window in front (one the user opened and left there): the text would
            // land in it, and a click would send it nowhere.
            if (self.services_.ownWindowFocused && self.services_.ownWindowFocused()) {
                log("❌ 输入焦点在 Vurin 自己的窗口,已阻止粘贴;先点一下要输入文字的窗口");
                self.injectionEndedWithoutPending();
                playSound("Basso");
                return;
            }
            self.services_.injector->inject(text, self.weak_from_this());
        }),
    };
}

void AppController::handleSingleClick() {
    if (appState_ == AppState::pendingSend && pending_) {
        if (!config_.sendOnClick) {
            log("⏎ 单击(单击发送已关闭,请手动回车)");
            return;
        }
        // The Return may take a moment to go out; whatever came in meanwhile wins.
        services_.injector->sendReturn(
            *pending_, [weak = weakSelf(), attempt = injectionAttempt_](SendOutcome outcome) {
                auto self = weak.lock();
                if (!self || self->injectionAttempt_ != attempt ||
                    outcome == SendOutcome::keystrokeFailed) {
                    return;
                }
                self->pending_.reset();
                self->setAppState(AppState::idle);
            });
        return;
    }
    log("⏎ 单击(无待发送内容,忽略)");
}

void AppController::cancel() {
    injectionAttempt_ += 1;
    cancelJobAndRecordingLimit();
    if (services_.recorder->isRecording()) {
        pipelineGeneration_->invalidate();
        discardRecording();
        setAppState(AppState::idle);
        log("✖ 已取消录音");
        playSound("Bottle");
        return;
    }
    if (appState_ == AppState::transcribing || inFlight_ >= 1) {
        pipelineGeneration_->invalidate();
        setAppState(AppState::idle);
        log("✖ 已取消(丢弃进行中的转写/润色或待确认注入)");
        playSound("Bottle");
        return;
    }
    if (appState_ == AppState::pendingSend && pending_) {
        const PendingInjection pending = *pending_;
        services_.injector->undoInsertedText(pending);
        pending_.reset();
        setAppState(AppState::idle);
        playSound("Bottle");
        return;
    }
    log("✖ 双击(当前无可取消的任务)");
}

std::int64_t AppController::beginInjectionAttempt() {
    return ++injectionAttempt_;
}

bool AppController::isInjectionAttemptCurrent(std::int64_t attempt) const {
    return injectionAttempt_ == attempt;
}

void AppController::injectionEndedWithoutPending() {
    pending_.reset();
    setAppState(AppState::idle);
}

void AppController::injectionConfirmed(PendingInjection pending) {
    pending_ = std::move(pending);
    setAppState(AppState::pendingSend);
}

}  // namespace vurin
