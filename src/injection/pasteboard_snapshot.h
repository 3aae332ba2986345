#pragma once

#include <optional>
#include <vector>

#include "platform/clipboard.h"

namespace vurin {

// A copy of everything one selection holds: every item with every format's bytes, in order.
// It owns its bytes, so it stays valid whatever later happens to the selection.
struct PasteboardSnapshot {
    std::vector<ClipboardItem> items;

    // Nothing when the selection could not be read whole (see Clipboard::items).
    static std::optional<PasteboardSnapshot> take(Clipboard& clipboard,
                                                  ClipboardSelection selection);

    // Clears the selection and writes the items back in order. An empty snapshot leaves the
    // selection empty, as it was.
    void restore(Clipboard& clipboard, ClipboardSelection selection) const;

    bool operator==(const PasteboardSnapshot&) const = default;
};

}  // namespace vurin
