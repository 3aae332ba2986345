#pragma once

#include <string>

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

// The Trigger interface's version, its property "Version" (a Vurin from before the property
// has none). 1: Press() and Release(). 2: each method takes the moment the command started
// (CLOCK_MONOTONIC nanoseconds, signature "t"), and Toggle, Send and Cancel exist. A running
// Vurin answers the signatures of every version, so an older `vurin --trigger` still reaches a
// newer Vurin; a newer one asks the version first and calls what the running one has.
inline constexpr unsigned interfaceVersion = 2;
inline constexpr const char* versionProperty = "Version";

// The same object's other faces: a second start of Vurin asks the running one to bring its
// window forward instead of running beside it. org.freedesktop.Application's Activate carries
// the desktop's token for that ("activation-token" on Wayland, "desktop-startup-id" on X11);
// ShowSettings() is what a Vurin from before asks.
inline constexpr const char* applicationInterface = "com.vurin.app.Application";
inline constexpr const char* showSettingsMethod = "ShowSettings";
inline constexpr const char* freedesktopApplicationInterface = "org.freedesktop.Application";
inline constexpr const char* activateMethod = "Activate";
inline constexpr const char* activationTokenKey = "activation-token";
inline constexpr const char* startupIdKey = "desktop-startup-id";

}  // namespace vurin::trigger_bus

namespace vurin {

// The desktop's proof that the user asked for a start, as a launcher hands it to the program it
// starts (XDG_ACTIVATION_TOKEN on Wayland, DESKTOP_STARTUP_ID on X11) and a second start hands
// it on to the running Vurin; empty when the start had none.
struct StartupTokens {
    std::string activationToken;
    std::string startupId;
};

}  // namespace vurin
