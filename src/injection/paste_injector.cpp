#include "injection/paste_injector.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "injection/focus_verification.h"
#include "injection/held_continuation.h"
#include "injection/paste_keystroke.h"
#include "support/grapheme_count.h"
#include "support/log.h"
#include "support/sound.h"
#include "support/text.h"

namespace vurin {

namespace {

void confirmPaste(const std::weak_ptr<InjectionHost>& weakHost, std::int64_t attempt,
                  FocusReader& focus, const InjectionTarget& target, const std::string& text) {
    const auto host = weakHost.lock();
    if (!host || !host->isInjectionAttemptCurrent(attempt)) {
        return;
    }
    if (const auto reason = targetMismatch(focus, target)) {
        host->injectionEndedWithoutPending();
        log("⚠️ 已投递粘贴,但" + *reason + ";为避免误发送,不会进入待发送状态");
        // Expected for such a window every time: no cue, the line says it.
        if (!target.unverifiable) {
            playSound("Bottle");
        }
        return;
    }
    host->injectionConfirmed(PendingInjection{.text = text, .target = target});
    log("📋 已粘贴到「" + target.appName + "」,目标确认成功");
}

void scheduleConfirmation(MainQueue& queue, const std::shared_ptr<FocusReader>& focus,
                          const std::weak_ptr<InjectionHost>& weakHost, std::int64_t attempt,
                          const InjectionTarget& target, const std::string& text) {
    queue.postAfter(PasteInjector::kConfirmationDelaySeconds,
                    [weakHost, attempt, focus, target, text] {
                        confirmPaste(weakHost, attempt, *focus, target, text);
                    });
}

void endWithoutPending(const std::weak_ptr<InjectionHost>& weakHost) {
    if (const auto host = weakHost.lock()) {
        host->injectionEndedWithoutPending();
    }
}

// Typed line breaks and tabs are keys: a Return sends a chat message or runs a terminal's line
// before the rest has arrived, a Tab leaves the field. A paste inserts them as text; typing
// puts a space in their place.
std::string flattenedForTyping(const std::string& text) {
    std::string flat;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        flat += c == '\n' || c == '\r' || c == '\t' ? ' ' : c;
    }
    return flat;
}

}  // namespace

PasteInjector::PasteInjector(std::shared_ptr<MainQueue> mainQueue,
                             std::shared_ptr<FocusReader> focus,
                             std::shared_ptr<Clipboard> clipboard,
                             std::shared_ptr<KeystrokeSender> keystrokes)
    : mainQueue_(std::move(mainQueue)),
      focus_(std::move(focus)),
      clipboard_(std::move(clipboard)),
      keeper_(clipboard_ ? std::make_shared<ClipboardKeeper>(clipboard_) : nullptr),
      restore_(keeper_ ? ClipboardRestore::create(mainQueue_, clipboard_, keeper_) : nullptr),
      keystrokes_(std::move(keystrokes)) {}

void PasteInjector::finish() {
    if (restore_) {
        restore_->restorePending();
    }
}

// The user's clipboard is read while the services work: at the paste, the owner (a browser
// busy rendering, say) would keep the text waiting while it hands its formats over. The paste
// takes this copy only if the clipboard has not changed since.
void PasteInjector::textComing() {
    if (!keeper_ || !keeper_->available()) {
        return;
    }
    // The owner may be waited for in a nested event loop: a paste or a press arriving meanwhile
    // is handled after.
    const MainQueue::Hold hold = mainQueue_->hold();
    keeper_->saveAhead(ClipboardSelection::clipboard);
}

void PasteInjector::inject(const std::string& text, std::weak_ptr<InjectionHost> weakHost) {
    const auto host = weakHost.lock();
    if (!host) {
        return;
    }
    // Reading and writing the clipboard may wait for another program in a nested event loop: a
    // press or a job's result arriving meanwhile is handled once the paste is done.
    const MainQueue::Hold hold = mainQueue_->hold();
    // The paste before may still wait for its target to read: its user's clipboard comes back
    // first, so that this paste saves that and not a dictation.
    if (restore_) {
        restore_->restorePending();
    }
    const bool clipboardUp = keeper_ && keeper_->available();
    auto savedClipboard = clipboardUp ? keeper_->save(ClipboardSelection::clipboard) : nullptr;
    const std::optional<InjectionTarget> target = currentInjectionTarget(*focus_);
    if (!target) {
        log("❌ 没有可注入的前台应用,已阻止粘贴");
        host->injectionEndedWithoutPending();
        playSound("Basso");
        return;
    }
    // A window that tells nothing about itself has no second reading to agree with: it gets the
    // text (it has the keyboard), but never a send or an undo.
    if (!target->unverifiable && targetMismatch(*focus_, *target)) {
        log("❌ 输入焦点在准备粘贴时发生变化,已阻止注入");
        host->injectionEndedWithoutPending();
        playSound("Basso");
        return;
    }
    const std::int64_t attempt = host->beginInjectionAttempt();
    if (!keeper_) {
        typeInto(text, *target, attempt, weakHost);
        return;
    }
    const PasteKeystroke paste = pasteKeystrokeFor(*target, clipboard_->offersPrimary());
    auto savedPrimary =
        clipboardUp && paste.alsoPrimary ? keeper_->save(ClipboardSelection::primary) : nullptr;
    // A clipboard that cannot be put back as it was is not borrowed: the text is typed.
    if (!clipboardUp || !savedClipboard || (paste.alsoPrimary && !savedPrimary)) {
        log(clipboardUp ? "⚠️ "
                          "剪贴板内容无法完整读取,为免丢失,不借用剪贴板,改为逐字输入"
                        : "⚠️ 剪贴板暂时不可用(正在重新连接),改为逐字输入");
        typeInto(text, *target, attempt, weakHost);
        return;
    }

    clipboard_->expectReader(target->processID);
    std::vector<SelectionWrite> writes;
    if (paste.alsoPrimary) {
        writes.push_back(
            keeper_->writeText(ClipboardSelection::primary, text, std::move(savedPrimary)));
    }
    writes.push_back(
        keeper_->writeText(ClipboardSelection::clipboard, text, std::move(savedClipboard)));

    const bool written = std::all_of(writes.begin(), writes.end(),
                                     [](const SelectionWrite& write) { return write.written; });
    // A paste now would paste whatever the selection held before.
    if (!written) {
        log("❌ 剪贴板写入失败,没有粘贴");
        for (const SelectionWrite& write : writes) {
            keeper_->restoreNow(write);
        }
        host->injectionEndedWithoutPending();
        return;
    }
    restore_->await(writes, target->processID);
    keystrokes_->send(
        paste.keystroke, 1, {},
        whileHeld(mainQueue_, [queue = mainQueue_, focus = focus_, restore = restore_, weakHost,
                               attempt, target = *target, text,
                               name = std::string(paste.name)](const KeystrokeOutcome& outcome) {
            if (!outcome.complete()) {
                log("❌ 合成 " + name + " 失败,已还原剪贴板");
                restore->takeBack();
                endWithoutPending(weakHost);
                return;
            }
            restore->keystrokeDelivered();
            scheduleConfirmation(*queue, focus, weakHost, attempt, target, text);
        }));
}

// Without a clipboard to borrow the text is typed, and the user's clipboard is never touched.
// What arrived of a text typed in part is what a click sends and a double click takes back.
void PasteInjector::typeInto(const std::string& dictated, const InjectionTarget& target,
                             std::int64_t attempt, const std::weak_ptr<InjectionHost>& weakHost) {
    const std::string text = flattenedForTyping(dictated);
    keystrokes_->type(
        text, whileHeld(mainQueue_, [queue = mainQueue_, focus = focus_, weakHost, attempt, target,
                                     text](const KeystrokeOutcome& outcome) {
            const std::string why = outcome.why.empty() ? "" : "(" + outcome.why + ")";
            if (outcome.sent == 0) {
                log("❌ 逐字输入失败,文字没有送达" + why);
                endWithoutPending(weakHost);
                return;
            }
            if (!outcome.complete()) {
                log("⚠️ 逐字输入中断:" + std::to_string(outcome.total) +
                    " 个字只送达了前 " + std::to_string(outcome.sent) + " 个" + why);
            }
            scheduleConfirmation(*queue, focus, weakHost, attempt, target,
                                 std::string(utf8Prefix(text, outcome.sent)));
        }));
}

void PasteInjector::sendReturn(const PendingInjection& pending,
                               std::function<void(SendOutcome outcome)> done) {
    if (const auto reason = targetMismatch(*focus_, pending.target)) {
        log("⏎ 未发送(" + *reason + ",请手动确认后回车)");
        playSound("Bottle");
        done(SendOutcome::targetChanged);
        return;
    }
    keystrokes_->send(Keystroke::returnKey, 1, {},
                      whileHeld(mainQueue_, [appName = pending.target.appName,
                                             done = std::move(done)](const KeystrokeOutcome& sent) {
                          if (!sent.complete()) {
                              log("❌ 合成回车失败");
                              done(SendOutcome::keystrokeFailed);
                              return;
                          }
                          log("⏎ 已发送到「" + appName + "」");
                          playSound("Tink");
                          done(SendOutcome::sent);
                      }));
}

bool PasteInjector::canSafelyDeleteInsertedText(const PendingInjection& pending) {
    const auto& element = pending.target.focusedElement;
    if (!element) {
        return false;
    }
    const std::optional<std::string> value = focus_->textOf(*element);
    if (!value) {
        return false;
    }
    const std::optional<TextSelectionRange> range = focus_->selectedRange(*element);
    if (!range || range->length != 0) {
        return false;
    }
    return textImmediatelyBeforeCaret(*value, range->location, pending.text) == pending.text;
}

void PasteInjector::undoInsertedText(const PendingInjection& pending) {
    if (const auto reason = pendingTargetMismatch(*focus_, pending)) {
        log("✖ 已取消(" + *reason + ",输入框文本请手动删除)");
        return;
    }
    const bool safe = canSafelyDeleteInsertedText(pending);
    const std::size_t count = graphemeCount(pending.text);
    keystrokes_->send(
        Keystroke::backspace, count, kBackspaceInterval,
        whileHeld(mainQueue_, [safe, count](const KeystrokeOutcome& deleted) {
            const std::string all = std::to_string(count);
            if (!deleted.complete()) {
                log("✖ 已取消,但刚插入的 " + all + " 个字只删除了 " + std::to_string(deleted.sent) +
                    " 个(按键没有全部送达,其余请手动删除)");
            } else if (safe) {
                log("✖ 已取消,并删除刚插入的 " + all + " 个字");
            } else {
                log("✖ 已取消,删除刚插入的 " + all + " 个字(AX 无法校验,按插入末尾处理)");
            }
        }));
}

}  // namespace vurin
