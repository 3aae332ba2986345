#pragma once

#include <string>
#include <vector>

namespace vurin {

// One of the desktop's custom keyboard shortcuts: a name, a command and a key, as the desktop's
// keyboard settings show and keep them.
struct CustomShortcut {
    std::string id;  // the entry's own name in the list, unique within it
    std::string name;
    std::string command;
    std::string binding;  // in GNOME's accelerator syntax: "XF86Tools", "<Control><Alt>d"

    bool operator==(const CustomShortcut&) const = default;
};

// The desktop's custom keyboard shortcuts (GNOME's, which its settings daemon runs on the key's
// press). Implementations: GSettings (platform/linux), fakes in tests.
class CustomShortcuts {
  public:
    virtual ~CustomShortcuts() = default;
    virtual std::vector<CustomShortcut> list() = 0;
    // Adds `shortcut`, or replaces the entry with its id; false (with one log line) when it could
    // not be stored.
    virtual bool put(const CustomShortcut& shortcut) = 0;
    // Takes the entry with `id` out of the list and clears what it held; true when it is gone.
    virtual bool remove(const std::string& id) = 0;
};

}  // namespace vurin
