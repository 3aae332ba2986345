#include "platform/display_session.h"

#include <cstdlib>

namespace vurin {

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

const char* displaySessionName(DisplaySession session) {
    return session == DisplaySession::wayland ? "Wayland" : "X11";
}

SessionEnvironment sessionEnvironmentFromProcess() {
    return {.waylandDisplay = variable("WAYLAND_DISPLAY"),
            .sessionType = variable("XDG_SESSION_TYPE"),
            .x11Display = variable("DISPLAY")};
}

DisplaySession chooseDisplaySession(const SessionEnvironment& environment,
                                    std::optional<DisplaySession> override) {
    if (override) {
        return *override;
    }
    if (environment.sessionType == "wayland") {
        // A Wayland session's type with no compositor named (an ssh -X shell in it) is served
        // through the forwarded X display.
        return environment.waylandDisplay || !environment.x11Display ? DisplaySession::wayland
                                                                     : DisplaySession::x11;
    }
    if (environment.sessionType == "x11") {
        return DisplaySession::x11;
    }
    return environment.waylandDisplay ? DisplaySession::wayland : DisplaySession::x11;
}

}  // namespace vurin
