#pragma once

namespace vurin {

// What a desktop shortcut that runs a command only on the press can ask of the trigger (GNOME's
// custom shortcuts report no release, so holding cannot work there): `toggle` starts a
// recording or ends the running one, `send` and `cancel` do what a single and a double click do.
enum class TriggerCommand { toggle, send, cancel };

}  // namespace vurin
