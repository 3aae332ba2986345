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

// The same object's other face: a second start of Vurin asks the running one to show its
// settings window instead of running beside it.
inline constexpr const char* applicationInterface = "com.vurin.app.Application";
inline constexpr const char* showSettingsMethod = "ShowSettings";

}  // namespace vurin::trigger_bus
