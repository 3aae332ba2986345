#include "pipeline/dictation_stages.h"

#include "config/keychain.h"
#include "local_services/service_constants.h"
#include "pipeline/dictation_pipeline.h"
#include "providers/provider_catalogue.h"
#include "providers/stt_clients.h"
#include "support/log.h"
#include "support/sound.h"

namespace vurin {
namespace {

using Clock = std::chrono::steady_clock;

bool cancelled(const DictationJob& job) {
    return job.cancellation && job.cancellation->isCancelled();
}

std::string localWhisperModelName() {
    return whisperModelPath().stem().string();
}

// The job ends without text: the state goes back to idle (then `warn`, in the same block) and
// the failure cue plays.
void endWithFailure(const DictationJob& job, const DictationHooks& hooks, const PostToMain& post,
                    std::function<void()> warn = nullptr) {
    post([setIdle = hooks.setIdleIfCurrent, generation = job.generation, warn = std::move(warn)] {
        if (setIdle) {
            setIdle(generation);
        }
        if (warn) {
            warn();
        }
    });
    playSound("Basso");
}

// A speech-to-text request gave nothing and nothing will retry it.
std::optional<SpeechResult> transcriptionFailed(const DictationJob& job,
                                                const DictationHooks& hooks,
                                                const PostToMain& post) {
    if (cancelled(job)) {
        log("(已取消,停止转写请求)");
        return std::nullopt;
    }
    endWithFailure(job, hooks, post);
    return std::nullopt;
}

std::optional<SpeechResult> cloudTranscription(const DictationJob& job, const DictationHooks& hooks,
                                               const PostToMain& post) {
    const std::string& provider = job.snapshot.sttCloudProvider();
    if (cloudKey(provider).empty()) {
        log("❌ 未配置:本地未就绪且云端无 Key");
        endWithFailure(job, hooks, post, hooks.warnNotConfigured);
        return std::nullopt;
    }
    const Clock::time_point started = Clock::now();
    auto transcript =
        cloudTranscribe(job.audioURL, job.snapshot.sttLanguage(), provider, job.cancellation);
    if (!transcript) {
        return transcriptionFailed(job, hooks, post);
    }
    return SpeechResult{started, std::move(*transcript), cloudProviderInfo(provider).name,
                        cloudSTTModelID(provider)};
}

std::optional<SpeechResult> localTranscription(const DictationJob& job, const DictationHooks& hooks,
                                               const PostToMain& post) {
    const Clock::time_point started = Clock::now();
    auto transcript = localTranscribe(job.audioURL, job.snapshot.sttLanguage(), job.audioDuration,
                                      job.cancellation);
    if (transcript) {
        return SpeechResult{started, std::move(*transcript), std::string(kLocalSTTSource),
                            localWhisperModelName()};
    }
    if (cancelled(job)) {
        log("(已取消,停止转写请求)");
        return std::nullopt;
    }
    if (hooks.localSTTRequestFailed) {
        hooks.localSTTRequestFailed();
    }
    const std::string& provider = job.snapshot.sttCloudProvider();
    if (!shouldFallbackAfterLocalFailure(job.snapshot.allowCloudFallback(),
                                         !cloudKey(provider).empty())) {
        return transcriptionFailed(job, hooks, post);
    }
    log("⚠️ 本地 STT 请求失败,已按设置回退 " + cloudProviderInfo(provider).name);
    transcript =
        cloudTranscribe(job.audioURL, job.snapshot.sttLanguage(), provider, job.cancellation);
    if (!transcript) {
        return transcriptionFailed(job, hooks, post);
    }
    return SpeechResult{started, std::move(*transcript), cloudProviderInfo(provider).name,
                        cloudSTTModelID(provider)};
}

// Cloud polish as the chosen back end or as the fallback for a local model that is not ready.
PolishOutcome cloudPolishing(const DictationJob& job, const std::string& transcript) {
    const std::string& provider = job.snapshot.polishCloudProvider();
    const std::string name = cloudProviderInfo(provider).name;
    if (cloudKey(provider).empty()) {
        log("⚠️ 云端润色需要 " + name + " Key,使用 STT 原文");
        return {std::nullopt, std::string(kUnpolishedSource), "none", std::nullopt};
    }
    auto polished = cloudPolish(transcript, provider, job.cancellation);
    const std::string source = polished ? name : std::string(kUnpolishedSource);
    return {std::move(polished), source, cloudPolishModelID(provider), std::nullopt};
}

PolishOutcome localPolishing(const DictationJob& job, const DictationHooks& hooks,
                             const std::string& transcript) {
    auto result = localPolishWithTiming(transcript, job.cancellation);
    if (result) {
        return {std::move(result->text), std::string(kLocalPolishSource), std::string(ollamaModel),
                result->timing};
    }
    if (cancelled(job)) {
        // The job is discarded right after this stage; keep what was attempted.
        return {std::nullopt, std::string(kLocalPolishSource), std::string(ollamaModel),
                std::nullopt};
    }
    if (hooks.localPolishRequestFailed) {
        hooks.localPolishRequestFailed();
    }
    const std::string& provider = job.snapshot.polishCloudProvider();
    if (!shouldFallbackAfterLocalFailure(job.snapshot.allowCloudFallback(),
                                         !cloudKey(provider).empty())) {
        return {std::nullopt, std::string(kUnpolishedSource), std::string(ollamaModel),
                std::nullopt};
    }
    const std::string name = cloudProviderInfo(provider).name;
    log("⚠️ 本地润色请求失败,已按设置回退 " + name);
    auto polished = cloudPolish(transcript, provider, job.cancellation);
    const std::string source = polished ? name : std::string(kUnpolishedSource);
    return {std::move(polished), source, cloudPolishModelID(provider), std::nullopt};
}

}  // namespace

std::optional<SpeechResult> transcribeStage(const DictationJob& job, const DictationHooks& hooks,
                                            const PostToMain& post) {
    const bool localReady = hooks.isLocalSTTReady && hooks.isLocalSTTReady();
    if (job.snapshot.sttProvider() != "local") {
        return cloudTranscription(job, hooks, post);
    }
    if (localReady) {
        return localTranscription(job, hooks, post);
    }
    if (job.snapshot.allowCloudFallback()) {
        log("⚠️ 本地 STT 未就绪,已按设置回退云端");
        return cloudTranscription(job, hooks, post);
    }
    log("❌ 本地 STT 未就绪;严格本地模式不会回退云端");
    endWithFailure(job, hooks, post, hooks.warnLocalUnavailable);
    return std::nullopt;
}

PolishOutcome polishStage(const DictationJob& job, const DictationHooks& hooks,
                          const std::string& transcript) {
    const bool localReady = hooks.isLocalPolishReady && hooks.isLocalPolishReady();
    if (job.snapshot.polishProvider() != "local") {
        return cloudPolishing(job, transcript);
    }
    if (localReady) {
        return localPolishing(job, hooks, transcript);
    }
    if (job.snapshot.allowCloudFallback()) {
        log("⚠️ 本地润色未就绪,已按设置回退云端");
        return cloudPolishing(job, transcript);
    }
    log("⚠️ 本地润色未就绪;严格本地模式不回退云端,使用 STT 原文");
    return {std::nullopt, std::string(kUnpolishedSource), "none", std::nullopt};
}

}  // namespace vurin
