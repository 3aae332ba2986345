#pragma once

// Where the running Vurin takes trigger presses on the session bus, for a key bound by the
// desktop itself (a compositor's binding running `vurin --trigger press|release`). The name is
// the application's own id.
namespace vurin::trigger_bus {

inline constexpr const char* serviceName = "com.vurin.app";
inline constexpr const char* objectPath = "/com/vurin/app";
inline constexpr const char* interfaceName = "com.vurin.app.Trigger";
inline constexpr const char* pressMethod = "Press";
inline constexpr const char* releaseMethod = "Release";
// For desktops whose shortcuts run a command on the press only (GNOME's custom shortcuts): the
// first toggle starts a recording, the next ends it; send and cancel do what a click and a
// double click do.
inline constexpr const char* toggleMethod = "Toggle";
inline constexpr const char* sendMethod = "Send";
inline constexpr const char* cancelMethod = "Cancel";

// The same object's other face: a second start of Vurin asks the running one to show its
// settings window instead of running beside it.
inline constexpr const char* applicationInterface = "com.vurin.app.Application";
inline constexpr const char* showSettingsMethod = "ShowSettings";

}  // namespace vurin::trigger_bus
