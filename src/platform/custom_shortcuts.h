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

    // The desktop's own settings that bind `binding` now (GNOME holds the Tools key, F13 in the
    // usual keyboard map, for opening its settings), which keep a custom shortcut on it from
    // ever running.
    virtual std::vector<std::string> builtInUses(const std::string& binding) = 0;
    // Those of the desktop's own settings that bind `binding` by default but no longer do.
    virtual std::vector<std::string> releasedBuiltIns(const std::string& binding) = 0;
    // Takes `binding` out of the desktop's own setting (the desktop grabs it at its next start,
    // that is the next login), or puts the setting back to its default.
    virtual bool releaseBuiltIn(const std::string& setting, const std::string& binding) = 0;
    virtual bool restoreBuiltIn(const std::string& setting) = 0;
};

}  // namespace vurin
