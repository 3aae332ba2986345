#pragma once

#include <functional>
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

    // The keys of the three entries, in GNOME's accelerator syntax. Send and cancel take keys of
    // their own, without modifiers: GNOME runs a command the moment its key goes down, while a
    // modifier of the shortcut would still be held and join the Return or the backspaces.
    struct Keys {
        std::string toggle, send, cancel;
    };
    // For the trigger's evdev code: send and cancel on the two function keys after it (F14 and
    // F15 for F13), or on Pause and Scroll Lock after another key. `keyName` names an evdev
    // code as the desktop's keyboard map does ("XF86Tools").
    static Keys keysFor(int evdevCode,
                        const std::function<std::optional<std::string>(int evdevCode)>& keyName);

    // `program` is how the desktop runs Vurin (the bare name when the PATH finds it).
    GnomeTriggerShortcuts(std::shared_ptr<CustomShortcuts> store, std::string program);

    // Vurin's three entries, in the order toggle, send, cancel.
    std::vector<Entry> read() const;
    // Whether the toggle entry is set now.
    bool toggleSet() const;
    // Sets the toggle entry, and the send and cancel entries when asked (removing them when
    // not); a key GNOME itself holds is taken out of GNOME's own setting (it lets go of it at the
    // next login). False with one log line when the desktop did not keep them.
    bool add(const Keys& keys, bool withSend, bool withCancel);
    // Removes Vurin's entries, never another's, and gives GNOME back the keys it let go of.
    bool remove();
    // GNOME's own settings that let go of one of the keys of Vurin's entries (GNOME still holds
    // such a key until its next login).
    std::vector<std::string> releasedFromGnome(const Keys& keys) const;

    static std::string bindingFor(TriggerCommand command, const Keys& keys);
    static std::string idFor(TriggerCommand command);

  private:
    CustomShortcut entryFor(TriggerCommand command, const Keys& keys) const;
    bool put(TriggerCommand command, const Keys& keys);

    std::shared_ptr<CustomShortcuts> store_;
    std::string program_;
};

}  // namespace vurin
