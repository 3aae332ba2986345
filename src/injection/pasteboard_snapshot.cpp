#include "injection/pasteboard_snapshot.h"

#include <utility>

namespace vurin {

std::optional<PasteboardSnapshot> PasteboardSnapshot::take(Clipboard& clipboard,
                                                           ClipboardSelection selection) {
    std::optional<std::vector<ClipboardItem>> items = clipboard.items(selection);
    if (!items) {
        return std::nullopt;
    }
    return PasteboardSnapshot{.items = std::move(*items)};
}

void PasteboardSnapshot::restore(Clipboard& clipboard, ClipboardSelection selection) const {
    clipboard.replace(selection, items);
}

}  // namespace vurin
