#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vurin {

// What the `vurin` command was asked to do. `start` covers a plain start and one with
// --session or --autostart (the application reads them itself); `trigger` is the key binding's
// `--trigger press|release|...`, answered before anything else.
enum class LauncherAction { start, help, version, trigger, wrong };

struct LauncherCommand {
    LauncherAction action = LauncherAction::start;
    std::string message;  // what to print: the usage, the version, or the wrong option's line
    // A start from the autostart entry: a Vurin that runs already is left as it is.
    bool autostart = false;
};

// `arguments` without the program's own name; `version` and `build` as the About line has them.
LauncherCommand parseLauncherCommandLine(const std::vector<std::string_view>& arguments,
                                         std::string_view version, std::string_view build);

}  // namespace vurin
