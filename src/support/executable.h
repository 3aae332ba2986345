#pragma once

#include <filesystem>

namespace vurin {

// The program a user or the desktop runs to start Vurin (the `vurin` command, which hands the
// application over to the program beside it): what an autostart entry or a key binding must
// name. The launcher says where it is in the environment; without it, this very program.
std::filesystem::path vurinCommand();

// Set by the launcher for the application it starts.
inline constexpr const char* launcherVariable = "VURIN_COMMAND";

}  // namespace vurin
