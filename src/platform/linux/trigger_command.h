#pragma once

#include <optional>

namespace vurin {

// `vurin --trigger press|release`, for a key the desktop binds itself (a compositor's binding):
// hands a press or a release to the Vurin running on this session bus and ends at once. The
// exit status when the arguments are this command (0 delivered, 1 not delivered, 2 a wrong
// argument; each failure is one line on standard error), nothing when they are not. Needs no
// display and no Qt.
std::optional<int> runTriggerCommand(int argc, char** argv);

// One Vurin per session: when a Vurin owns the bus name, asks it to show its settings window.
// 0 when it was asked, 1 when it did not answer (one line on standard error), nothing when no
// Vurin runs on this session bus or there is no bus (then this one may start).
std::optional<int> showRunningVurin();

}  // namespace vurin
