#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vurin {

// X11 has two selections that paste: the clipboard and the primary selection.
enum class ClipboardSelection { clipboard, primary };

// One clipboard item: (format, bytes) pairs in the owner's order.
struct ClipboardItem {
    std::vector<std::pair<std::string, std::string>> values;

    bool operator==(const ClipboardItem&) const = default;
};

// Another program reading text Vurin put on a selection.
struct ClipboardRead {
    ClipboardSelection selection = ClipboardSelection::clipboard;
    std::string format;
    // The reading program's process where it can be told (X11: the client behind the requesting
    // window; Wayland: the other holder of the pipe the text goes through); 0 where it cannot.
    int readerProcessID = 0;
};

// The desktop clipboard. Main thread only, but for the read observer.
class Clipboard {
  public:
    virtual ~Clipboard() = default;
    // Every item with every format's bytes. Nothing when not every format could be read (the
    // owner did not hand one over in time, one is too large, it offers too many): a copy that
    // left formats out would, put back, take them from the user. An empty selection gives an
    // empty list.
    virtual std::optional<std::vector<ClipboardItem>> items(ClipboardSelection selection) = 0;
    // Clears the selection, then writes the items (nothing more when there are none).
    virtual void replace(ClipboardSelection selection, const std::vector<ClipboardItem>& items) = 0;
    // Clears the selection and writes plain text, marked so clipboard managers do not keep it.
    // False when the selection is known not to hold the text (a paste would paste something
    // else).
    virtual bool writeText(ClipboardSelection selection, const std::string& text) = 0;
    // Counts every change of the selection, Vurin's own writes included.
    virtual std::int64_t changeCount(ClipboardSelection selection) const = 0;
    // Counts every change the desktop made before this call: the count may otherwise lag behind
    // by the notices still on their way.
    virtual void catchUp() {}
    // Whether the primary selection can be read and set at all.
    virtual bool offersPrimary() const { return true; }
    // False while the clipboard cannot be used at all (its connection to the desktop is down
    // and being made again); the calls above then return at once and change nothing.
    virtual bool available() const { return true; }
    // The program the next writeText() is for (a paste's target; 0: unknown). A clipboard that
    // must search the system for each reader looks there first.
    virtual void expectReader(int processID) { (void)processID; }
    // Whether reads of what writeText() wrote are reported to the read observer at all.
    virtual bool reportsReads() const { return false; }
    // Called for each read of what writeText() wrote, as the reading program asks for a format;
    // on any thread (a clipboard that serves its readers on a thread of its own reports there).
    virtual void setReadObserver(std::function<void(const ClipboardRead& read)> observer) {
        (void)observer;
    }
};

}  // namespace vurin
