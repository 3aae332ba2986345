#include "pipeline/dictation_pipeline.h"

#include "pipeline/dictation_history.h"
#include "pipeline/dictation_stages.h"
#include "pipeline/polish_guard.h"
#include "support/grapheme_count.h"
#include "support/history.h"
#include "support/log.h"
#include "support/sound.h"
#include "support/text.h"

namespace vurin {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kRule = "━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━";

std::int64_t millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool isCancelled(const DictationJob& job) {
    return job.cancellation && job.cancellation->isCancelled();
}

bool isCurrent(const DictationJob& job, const DictationHooks& hooks) {
    return hooks.isCurrent && hooks.isCurrent(job.generation);
}

// Without text history only the length of the user's words reaches the log.
std::string shownText(const std::string& text, bool saveTextHistory, std::string_view countLead) {
    if (saveTextHistory) {
        return text;
    }
    return std::string(countLead) + std::to_string(graphemeCount(text)) + " 字(全文日志关闭)";
}

void logLatency(const PolishOutcome& polish, std::int64_t sttMs, std::int64_t llmMs,
                const std::string& finalText, bool saveTextHistory) {
    log("✨ 润色[" + polish.source + "] (" + std::to_string(llmMs) + "ms) ┃ 松开→出字全程 " +
        std::to_string(sttMs + llmMs) + "ms");
    log(kRule);
    log(saveTextHistory ? "💬 " + finalText : shownText(finalText, false, "💬 已生成 "));
    log(kRule);
}

// The text to paste, and why the polish was not used when it was not.
struct Guarded {
    std::string finalText;
    std::optional<PolishRejection> rejection;
};

// A polish that answers, translates, loops or drops half of what was said would be pasted as
// the user's own words; the transcript is safer. No error cue: the user still gets their text.
Guarded guardedFinalText(const PolishOutcome& polish, const std::string& transcript,
                         bool saveTextHistory) {
    Guarded guarded;
    std::string chosen = transcript;
    if (polish.polished) {
        const PolishVerdict verdict = guardPolish(transcript, *polish.polished);
        if (const auto line = polishGuardLogLine(verdict, saveTextHistory, *polish.polished)) {
            log(*line);
        }
        guarded.rejection = verdict.rejection;
        if (verdict.text) {
            chosen = *verdict.text;
        }
    }
    guarded.finalText = collapseToSingleLine(chosen);
    if (guarded.finalText.empty()) {
        guarded.finalText = collapseToSingleLine(transcript);
    }
    return guarded;
}

}  // namespace

bool shouldFallbackAfterLocalFailure(bool allowCloudFallback, bool cloudKeyPresent) {
    return allowCloudFallback && cloudKeyPresent;
}

DictationPipeline::DictationPipeline(std::shared_ptr<MainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)) {}

void DictationPipeline::run(const Job& job, const Hooks& hooks) {
    const Clock::time_point started = Clock::now();
    if (isCancelled(job)) {
        return;
    }
    const PostToMain post = [queue = mainQueue_](std::function<void()> block) {
        if (queue) {
            queue->post(std::move(block));
        }
    };
    const auto speech = transcribeStage(job, hooks, post);
    if (!speech) {
        return;
    }
    const std::int64_t sttMs = millisecondsSince(speech->started);
    if (!isCurrent(job, hooks)) {
        log("(已取消,丢弃转写结果)");
        return;
    }
    const bool saveText = job.snapshot.saveTextHistory();
    if (speech->transcript.empty()) {
        log("📝 STT 结果为空,忽略");
        post([setIdle = hooks.setIdleIfCurrent, generation = job.generation] {
            if (setIdle) {
                setIdle(generation);
            }
        });
        return;
    }
    log("📝 STT[" + speech->source + "] (" + std::to_string(sttMs) +
        "ms): " + shownText(speech->transcript, saveText, ""));

    const Clock::time_point polishStarted = Clock::now();
    const PolishOutcome polish = polishStage(job, hooks, speech->transcript);
    const std::int64_t llmMs = millisecondsSince(polishStarted);
    if (isCancelled(job) || !isCurrent(job, hooks)) {
        log("(已取消,丢弃润色结果)");
        return;
    }
    const auto [finalText, rejection] = guardedFinalText(polish, speech->transcript, saveText);
    if (!polish.polished) {
        log("⚠️ 润色失败,使用 STT 原文");
    }
    logLatency(polish, sttMs, llmMs, finalText, saveText);

    const std::int64_t totalMs = millisecondsSince(job.released.value_or(started));
    // Tested again when the block runs: the user may cancel while it waits in the queue.
    post([cancellation = job.cancellation, generation = job.generation,
          isCurrentHook = hooks.isCurrent, inject = hooks.inject, finalText] {
        const bool cancelled = cancellation && cancellation->isCancelled();
        if (!cancelled && isCurrentHook && isCurrentHook(generation)) {
            if (inject) {
                inject(finalText);
            }
        } else {
            log("(已取消,不注入)");
        }
    });
    // The cue after the text is on its way: starting a sound can hold the main thread for a
    // few milliseconds (the sound server loads it), and the paste waits there.
    playSound("Glass");

    DictationRecordInput input{
        std::chrono::system_clock::now(),
        job.audioDuration,
        sttMs,
        llmMs,
        &job.snapshot,
        &*speech,
        &polish,
        finalText,
        totalMs,
        rejection ? std::optional<std::string>(polishRejectionName(*rejection)) : std::nullopt};
    const nlohmann::json record = dictationHistoryRecord(input);
    if (!isCancelled(job) && isCurrent(job, hooks)) {
        appendHistory(record);
    }
}

}  // namespace vurin
