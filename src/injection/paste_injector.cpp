#include "injection/paste_injector.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "injection/focus_verification.h"
#include "injection/paste_keystroke.h"
#include "support/grapheme_count.h"
#include "support/log.h"
#include "support/sound.h"

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
        playSound("Bottle");
        return;
    }
    host->injectionConfirmed(PendingInjection{.text = text, .target = target});
    log("📋 已粘贴到「" + target.appName + "」,目标确认成功");
}

void restoreClipboard(ClipboardKeeper& keeper, const std::vector<SelectionWrite>& writes) {
    bool clipboardRestored = true;
    for (const SelectionWrite& write : writes) {
        const bool restored = keeper.restoreIfUnchanged(write);
        // The primary selection changes whenever the user selects text; only the clipboard's
        // outcome is worth a line.
        if (write.selection == ClipboardSelection::clipboard) {
            clipboardRestored = restored;
        }
    }
    log(clipboardRestored ? "📋 剪贴板已还原"
                          : "⚠️ 剪贴板在还原前被其他程序修改,跳过还原");
}

}  // namespace

PasteInjector::PasteInjector(std::shared_ptr<MainQueue> mainQueue,
                             std::shared_ptr<FocusReader> focus,
                             std::shared_ptr<Clipboard> clipboard,
                             std::shared_ptr<KeystrokeSender> keystrokes, Pause pause)
    : mainQueue_(std::move(mainQueue)),
      focus_(std::move(focus)),
      keeper_(clipboard ? std::make_shared<ClipboardKeeper>(std::move(clipboard)) : nullptr),
      keystrokes_(std::move(keystrokes)),
      pause_(std::move(pause)) {}

void PasteInjector::sleepFor(std::chrono::microseconds duration) {
    std::this_thread::sleep_for(duration);
}

void PasteInjector::inject(const std::string& text, std::weak_ptr<InjectionHost> weakHost) {
    const auto host = weakHost.lock();
    if (!host) {
        return;
    }
    // Reading and writing the clipboard may wait for another program in a nested event loop: a
    // press or a job's result arriving meanwhile is handled once the paste is done.
    const MainQueue::Hold hold = mainQueue_->hold();
    const bool clipboardUp = keeper_ && keeper_->available();
    auto savedClipboard = clipboardUp ? keeper_->save(ClipboardSelection::clipboard) : nullptr;
    const std::optional<InjectionTarget> target = currentInjectionTarget(*focus_);
    if (!target) {
        log("❌ 没有可注入的前台应用,已阻止粘贴");
        host->injectionEndedWithoutPending();
        playSound("Basso");
        return;
    }
    if (targetMismatch(*focus_, *target)) {
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
    const PasteKeystroke paste = pasteKeystrokeFor(*target);
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
    if (!keystrokes_->post(paste.keystroke)) {
        log("❌ 合成 " + std::string(paste.name) + " 失败,已还原剪贴板");
        for (const SelectionWrite& write : writes) {
            keeper_->restoreNow(write);
        }
        host->injectionEndedWithoutPending();
        return;
    }

    mainQueue_->postAfter(kConfirmationDelaySeconds,
                          [weakHost, attempt, focus = focus_, target = *target, text] {
                              confirmPaste(weakHost, attempt, *focus, target, text);
                          });
    mainQueue_->postAfter(kRestoreDelaySeconds, [weakQueue = std::weak_ptr(mainQueue_),
                                                 keeper = keeper_, writes = std::move(writes)] {
        if (const auto queue = weakQueue.lock()) {
            const MainQueue::Hold hold = queue->hold();
            restoreClipboard(*keeper, writes);
        }
    });
}

// Typed line breaks and tabs are keys: a Return sends a chat message or runs a terminal's line
// before the rest has arrived, a Tab leaves the field. A paste inserts them as text; typing
// puts a space in their place.
namespace {

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

// Without a clipboard to borrow the text is typed, and the user's clipboard is never touched.
void PasteInjector::typeInto(const std::string& dictated, const InjectionTarget& target,
                             std::int64_t attempt, const std::weak_ptr<InjectionHost>& weakHost) {
    const std::string text = flattenedForTyping(dictated);
    if (!keystrokes_->typeText(text)) {
        log("❌ 逐字输入失败,文字没有送达");
        if (const auto host = weakHost.lock()) {
            host->injectionEndedWithoutPending();
        }
        return;
    }
    mainQueue_->postAfter(kConfirmationDelaySeconds,
                          [weakHost, attempt, focus = focus_, target, text] {
                              confirmPaste(weakHost, attempt, *focus, target, text);
                          });
}

SendOutcome PasteInjector::sendReturn(const PendingInjection& pending) {
    if (const auto reason = targetMismatch(*focus_, pending.target)) {
        log("⏎ 未发送(" + *reason + ",请手动确认后回车)");
        playSound("Bottle");
        return SendOutcome::targetChanged;
    }
    if (!keystrokes_->post(Keystroke::returnKey)) {
        log("❌ 合成回车失败");
        return SendOutcome::keystrokeFailed;
    }
    log("⏎ 已发送到「" + pending.target.appName + "」");
    playSound("Tink");
    return SendOutcome::sent;
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

void PasteInjector::deleteInsertedText(const std::string& text) {
    const std::size_t count = graphemeCount(text);
    for (std::size_t i = 0; i < count; ++i) {
        keystrokes_->post(Keystroke::backspace);
        pause_(kBackspaceInterval);
    }
}

void PasteInjector::undoInsertedText(const PendingInjection& pending) {
    if (const auto reason = pendingTargetMismatch(*focus_, pending)) {
        log("✖ 已取消(" + *reason + ",输入框文本请手动删除)");
        return;
    }
    const bool safe = canSafelyDeleteInsertedText(pending);
    deleteInsertedText(pending.text);
    const std::string count = std::to_string(graphemeCount(pending.text));
    if (safe) {
        log("✖ 已取消,并删除刚插入的 " + count + " 个字");
    } else {
        log("✖ 已取消,删除刚插入的 " + count + " 个字(AX 无法校验,按插入末尾处理)");
    }
}

}  // namespace vurin
