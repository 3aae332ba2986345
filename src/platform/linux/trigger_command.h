#pragma once

#include <optional>

namespace vurin {

// `vurin --trigger press|release`, for a key the desktop binds itself (a compositor's binding):
// hands a press or a release to the Vurin running on this session bus and ends at once. The
// exit status when the arguments are this command (0 delivered, 1 not delivered, 2 a wrong
// argument; each failure is one line on standard error), nothing when they are not. Needs no
// display and no Qt.
std::optional<int> runTriggerCommand(int argc, char** argv);

}  // namespace vurin
