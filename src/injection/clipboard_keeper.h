#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "injection/pasteboard_snapshot.h"
#include "platform/clipboard.h"

namespace vurin {

// What one paste wrote to one selection, and what it found there before.
struct SelectionWrite {
    ClipboardSelection selection = ClipboardSelection::clipboard;
    // The selection's change count right after the write.
    std::int64_t changeCount = 0;
    std::shared_ptr<const PasteboardSnapshot> saved;
    std::uint64_t serial = 0;
    bool written = true;  // false: the selection does not hold the text
};

// Saves a selection before Vurin writes text to it and puts the saved content back later.
//
// It remembers each selection's latest write until that write's restore has run. A paste that
// follows within the restore delay finds Vurin's own text on the selection; it takes over the
// content the earlier paste saved instead of saving that text, so the user's own clipboard is
// what finally comes back, not a dictation. Main thread only.
class ClipboardKeeper {
  public:
    explicit ClipboardKeeper(std::shared_ptr<Clipboard> clipboard);

    // Whether the clipboard can be used now (see Clipboard::available).
    bool available() const { return clipboard_->available(); }

    // The content to bring back after a paste about to write `selection`; null when the
    // selection could not be read whole, and so could not be brought back as it was. What
    // saveAhead() read is taken when the selection has not changed since.
    std::shared_ptr<const PasteboardSnapshot> save(ClipboardSelection selection);
    // Reads the selection now for the next save(): a paste then need not wait for the owner to
    // hand its formats over. Nothing while a write of ours is still on the selection.
    void saveAhead(ClipboardSelection selection);
    SelectionWrite writeText(ClipboardSelection selection, const std::string& text,
                             std::shared_ptr<const PasteboardSnapshot> saved);
    // Puts the saved content back without looking at what happened since.
    void restoreNow(const SelectionWrite& write);
    // Puts the saved content back unless the selection changed after the write; false when it
    // did (someone else's content, or a newer paste, is left alone).
    bool restoreIfUnchanged(const SelectionWrite& write);

  private:
    void forget(const SelectionWrite& write);

    std::shared_ptr<Clipboard> clipboard_;
    std::map<ClipboardSelection, SelectionWrite> latest_;
    struct Ahead {
        std::int64_t changeCount = 0;
        std::shared_ptr<const PasteboardSnapshot> saved;
    };
    std::map<ClipboardSelection, Ahead> ahead_;
    std::uint64_t nextSerial_ = 0;
};

}  // namespace vurin
