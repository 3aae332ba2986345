#include "injection/clipboard_keeper.h"

#include <utility>

namespace vurin {

ClipboardKeeper::ClipboardKeeper(std::shared_ptr<Clipboard> clipboard)
    : clipboard_(std::move(clipboard)) {}

std::shared_ptr<const PasteboardSnapshot> ClipboardKeeper::save(ClipboardSelection selection) {
    const auto latest = latest_.find(selection);
    if (latest != latest_.end() &&
        clipboard_->changeCount(selection) == latest->second.changeCount) {
        return latest->second.saved;
    }
    if (const auto ahead = ahead_.extract(selection)) {
        // A copy made a moment ago may not be counted yet.
        clipboard_->catchUp();
        if (clipboard_->changeCount(selection) == ahead.mapped().changeCount) {
            return ahead.mapped().saved;
        }
    }
    std::optional<PasteboardSnapshot> snapshot = PasteboardSnapshot::take(*clipboard_, selection);
    if (!snapshot) {
        return nullptr;
    }
    return std::make_shared<const PasteboardSnapshot>(std::move(*snapshot));
}

void ClipboardKeeper::saveAhead(ClipboardSelection selection) {
    ahead_.erase(selection);
    if (latest_.contains(selection)) {
        return;
    }
    clipboard_->catchUp();
    const std::int64_t before = clipboard_->changeCount(selection);
    std::optional<PasteboardSnapshot> snapshot = PasteboardSnapshot::take(*clipboard_, selection);
    // Changed while being read: what was read may be half of each.
    if (snapshot && clipboard_->changeCount(selection) == before) {
        ahead_[selection] = {before,
                             std::make_shared<const PasteboardSnapshot>(std::move(*snapshot))};
    }
}

SelectionWrite ClipboardKeeper::writeText(ClipboardSelection selection, const std::string& text,
                                          std::shared_ptr<const PasteboardSnapshot> saved) {
    const bool written = clipboard_->writeText(selection, text);
    SelectionWrite write{.selection = selection,
                         .changeCount = clipboard_->changeCount(selection),
                         .saved = std::move(saved),
                         .serial = ++nextSerial_,
                         .written = written};
    latest_[selection] = write;
    return write;
}

void ClipboardKeeper::restoreNow(const SelectionWrite& write) {
    write.saved->restore(*clipboard_, write.selection);
    forget(write);
}

bool ClipboardKeeper::restoreIfUnchanged(const SelectionWrite& write) {
    if (clipboard_->changeCount(write.selection) != write.changeCount) {
        forget(write);
        return false;
    }
    restoreNow(write);
    return true;
}

void ClipboardKeeper::forget(const SelectionWrite& write) {
    const auto latest = latest_.find(write.selection);
    if (latest != latest_.end() && latest->second.serial == write.serial) {
        latest_.erase(latest);
    }
}

}  // namespace vurin
