#pragma once

#include <optional>
#include <string>

#include "platform/trigger_bus.h"

namespace vurin {

// `vurin --trigger press|release|...`, for a key the desktop binds itself (a compositor's
// binding): hands a press or a release to the Vurin running on this session bus and ends at
// once, in the newest signature the running one has. The exit status when the arguments are
// this command (0 delivered, 1 not delivered, 2 a wrong argument; each failure is one line on
// standard error), nothing when they are not. Needs no display and no Qt.
std::optional<int> runTriggerCommand(int argc, char** argv);

// This start's tokens, as the launcher found them in the environment.
StartupTokens startupTokensFromEnvironment();

// One Vurin per session. What came of asking the Vurin that owns the bus name.
enum class RunningVurin {
    none,      // no Vurin owns the name (or it quit while asked), or there is no session bus
    answered,  // it answered: it brought its window forward, or only said it was there
    silent     // it owns the name but did not answer in time, or answered with an error
};
struct RunningVurinAnswer {
    RunningVurin state = RunningVurin::none;
    std::string detail;  // why it is silent
};

// Asks the running Vurin to bring its window forward with `tokens`, or with `bringForward`
// false only whether it is there (a start at login leaves it alone). A Vurin that is itself
// still starting answers once its event loop runs: the question is asked again before it
// counts as silent.
RunningVurinAnswer askRunningVurin(const StartupTokens& tokens, bool bringForward);

}  // namespace vurin
