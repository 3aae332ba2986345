#include "app/display_session.h"

#include <cstdlib>
#include <string_view>

namespace vurin {

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::optional<std::string>(value) : std::nullopt;
}

std::optional<DisplaySession> parseSession(std::string_view text) {
    if (text == "x11") {
        return DisplaySession::x11;
    }
    if (text == "wayland") {
        return DisplaySession::wayland;
    }
    return std::nullopt;
}

constexpr const char* kUsage = "usage: vurin [--session x11|wayland]";

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

SessionOption takeSessionOption(int& argc, char** argv) {
    std::optional<DisplaySession> chosen;
    int kept = 1;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        std::optional<std::string_view> value;
        if (argument == "--session") {
            if (index + 1 >= argc) {
                return std::string(kUsage);
            }
            value = argv[++index];
        } else if (argument.starts_with("--session=")) {
            value = argument.substr(std::string_view("--session=").size());
        } else {
            argv[kept++] = argv[index];
            continue;
        }
        chosen = parseSession(*value);
        if (!chosen) {
            return std::string(kUsage);
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return chosen;
}

}  // namespace vurin
