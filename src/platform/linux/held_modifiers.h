#pragma once

#include <string>
#include <vector>

namespace vurin {

// The modifier keys held down right now on the keyboards this user may read, by evdev code
// (KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTALT, KEY_RIGHTALT,
// KEY_LEFTMETA, KEY_RIGHTMETA), ascending and each once however many keyboards hold it.
//
// Asks the kernel for each event node's key state (EVIOCGKEY) in `directory`; Vurin's own
// devices (own_input_devices.h) are left out, and so, without a word, are the nodes this user
// may not open (most belong to other users). So an empty list means "none held on a keyboard
// that can be read", not "none held": without read access (the `input` group) nothing is ever
// seen. It reads the state as it is, not events, so it never waits; any thread.
std::vector<int> heldModifierKeys(const std::string& directory = "/dev/input");

}  // namespace vurin
