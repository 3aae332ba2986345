#include "injection/pasteboard_snapshot.h"

namespace vurin {

PasteboardSnapshot::PasteboardSnapshot(Clipboard& clipboard, ClipboardSelection selection)
    : items(clipboard.items(selection)) {}

void PasteboardSnapshot::restore(Clipboard& clipboard, ClipboardSelection selection) const {
    clipboard.replace(selection, items);
}

}  // namespace vurin
