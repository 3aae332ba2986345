#pragma once

#include <optional>
#include <string>

namespace vurin {

// The kind of desktop session Vurin serves: one platform per process, chosen at start.
enum class DisplaySession { x11, wayland };

const char* displaySessionName(DisplaySession session);  // "X11", "Wayland"

// What the environment says, as the desktop's session manager sets it.
struct SessionEnvironment {
    std::optional<std::string> waylandDisplay;  // WAYLAND_DISPLAY
    std::optional<std::string> sessionType;     // XDG_SESSION_TYPE
    std::optional<std::string> x11Display;      // DISPLAY
};

SessionEnvironment sessionEnvironmentFromProcess();

// `override` is the value of --session when given. A Wayland session is one that says so
// (XDG_SESSION_TYPE=wayland) or names a compositor without saying otherwise; XWayland's DISPLAY
// in a Wayland session does not make it an X11 one.
DisplaySession chooseDisplaySession(const SessionEnvironment& environment,
                                    std::optional<DisplaySession> override);

}  // namespace vurin
