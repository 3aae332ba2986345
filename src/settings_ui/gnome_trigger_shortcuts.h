#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/trigger_commands.h"
#include "platform/custom_shortcuts.h"

namespace vurin {

// Vurin's own entries among GNOME's custom keyboard shortcuts, added the way GNOME's keyboard
// settings add one: a shortcut on the trigger key that runs `vurin --trigger toggle` (GNOME runs
// custom shortcuts on the press only, so holding cannot work there), and optionally one each for
// send and cancel. Only entries whose id is Vurin's are ever changed or removed. Main thread.
class GnomeTriggerShortcuts {
  public:
    struct Entry {
        TriggerCommand command;
        std::string id;                     // "vurin-toggle", "vurin-send", "vurin-cancel"
        std::optional<CustomShortcut> set;  // as the desktop holds it now
    };

    // `program` is how the desktop runs Vurin (the bare name when the PATH finds it).
    GnomeTriggerShortcuts(std::shared_ptr<CustomShortcuts> store, std::string program);

    // Vurin's three entries, in the order toggle, send, cancel.
    std::vector<Entry> read() const;
    // Whether the toggle entry is set now.
    bool toggleSet() const;
    // Sets the toggle entry on `keyName` (a keysym name such as "XF86Tools"), and the send and
    // cancel entries on Shift and Control with the same key when asked (removing them when not);
    // false with one log line when the desktop did not keep them.
    bool add(const std::string& keyName, bool withSend, bool withCancel);
    // Removes Vurin's entries, never another's.
    bool remove();

    // The key each entry is bound to for `keyName`, in GNOME's accelerator syntax.
    static std::string bindingFor(TriggerCommand command, const std::string& keyName);
    static std::string idFor(TriggerCommand command);

  private:
    CustomShortcut entryFor(TriggerCommand command, const std::string& keyName) const;

    std::shared_ptr<CustomShortcuts> store_;
    std::string program_;
};

}  // namespace vurin
