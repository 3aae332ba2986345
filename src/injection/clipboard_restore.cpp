#include "injection/clipboard_restore.h"

#include <algorithm>
#include <utility>

#include "support/log.h"

namespace vurin {

bool isTextFormat(const std::string& format) {
    return format.starts_with("text/") || format == "UTF8_STRING" || format == "STRING" ||
           format == "TEXT" || format == "COMPOUND_TEXT";
}

std::shared_ptr<ClipboardRestore> ClipboardRestore::create(
    std::shared_ptr<MainQueue> mainQueue, std::shared_ptr<Clipboard> clipboard,
    std::shared_ptr<ClipboardKeeper> keeper) {
    const bool reports = clipboard->reportsReads();
    auto restore = std::shared_ptr<ClipboardRestore>(
        new ClipboardRestore(std::move(mainQueue), std::move(keeper), reports));
    restore->observe(*clipboard);
    return restore;
}

ClipboardRestore::ClipboardRestore(std::shared_ptr<MainQueue> mainQueue,
                                   std::shared_ptr<ClipboardKeeper> keeper, bool reportsReads)
    : mainQueue_(std::move(mainQueue)), keeper_(std::move(keeper)), reportsReads_(reportsReads) {}

// Each read is numbered as it is reported, wherever that is: a read numbered before the paste
// began waiting began before its keystroke.
void ClipboardRestore::observe(Clipboard& clipboard) {
    clipboard.setReadObserver(
        [weak = weak_from_this(), queue = mainQueue_](const ClipboardRead& read) {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            const std::uint64_t serial = ++self->reads_;
            const double at = queue->now();
            queue->post([weak, read, serial, at] {
                if (const auto live = weak.lock()) {
                    live->read(read, serial, at);
                }
            });
        });
}

void ClipboardRestore::await(std::vector<SelectionWrite> writes, int targetProcess) {
    restorePending();
    awaited_ =
        Awaited{.writes = std::move(writes), .target = targetProcess, .readsBefore = reads_.load()};
}

void ClipboardRestore::keystrokeDelivered() {
    if (awaited_ && !awaited_->read) {
        restoreAfter(reportsReads_ ? kReadTimeoutSeconds : kFixedDelaySeconds, reportsReads_);
    }
}

void ClipboardRestore::read(const ClipboardRead& read, std::uint64_t serial, double at) {
    if (!awaited_ || !isTextFormat(read.format)) {
        return;
    }
    const int reader = read.readerProcessID;
    const bool beforeKeystroke = serial <= awaited_->readsBefore;
    // Nobody pastes before the keystroke: a reader then is one that takes every new owner, and
    // its reads never count, even when it is quick to read the next one after a keystroke.
    if (beforeKeystroke && reader > 0 && reader != awaited_->target) {
        everyOwnerReaders_.insert(reader);
    }
    const bool target = reader > 0 && awaited_->target > 0
                            ? reader == awaited_->target
                            : !beforeKeystroke && !everyOwnerReaders_.contains(reader);
    if (!target) {
        return;
    }
    awaited_->read = true;
    restoreAfter(std::max(0.0, at + kReadGraceSeconds - mainQueue_->now()), false);
}

void ClipboardRestore::restoreAfter(double seconds, bool timedOut) {
    cancelDue();
    awaited_->due = mainQueue_->postAfter(seconds, [weak = weak_from_this(), timedOut] {
        if (const auto self = weak.lock()) {
            self->restore(timedOut);
        }
    });
}

void ClipboardRestore::cancelDue() {
    if (awaited_->due) {
        awaited_->due->cancel();
        awaited_->due.reset();
    }
}

void ClipboardRestore::restorePending() {
    if (awaited_) {
        restore(false);
    }
}

void ClipboardRestore::takeBack() {
    if (!awaited_) {
        return;
    }
    cancelDue();
    const std::vector<SelectionWrite> writes = std::move(awaited_->writes);
    awaited_.reset();
    for (const SelectionWrite& write : writes) {
        keeper_->restoreNow(write);
    }
}

void ClipboardRestore::restore(bool timedOut) {
    if (!awaited_) {
        return;
    }
    cancelDue();
    const std::vector<SelectionWrite> writes = std::move(awaited_->writes);
    awaited_.reset();
    if (timedOut) {
        log("⚠️ 目标程序 5 秒内没有读取粘贴的文字,按时还原剪贴板");
    }
    // Putting the clipboard back may wait for another program in a nested event loop.
    const MainQueue::Hold restoring = mainQueue_->hold();
    bool clipboardRestored = true;
    for (const SelectionWrite& write : writes) {
        const bool restored = keeper_->restoreIfUnchanged(write);
        // The primary selection changes whenever the user selects text; only the clipboard's
        // outcome is worth a line.
        if (write.selection == ClipboardSelection::clipboard) {
            clipboardRestored = restored;
        }
    }
    log(clipboardRestored ? "📋 剪贴板已还原"
                          : "⚠️ 剪贴板在还原前被其他程序修改,跳过还原");
}

}  // namespace vurin
