#include "launcher/launcher_command_line.h"

namespace vurin {

namespace {

constexpr std::string_view usageLine =
    "usage: vurin [--session x11|wayland] [--autostart] | --trigger "
    "press|release|toggle|send|cancel | --help | --version";

constexpr std::string_view helpText =
    "\n\n"
    "Push-to-talk dictation: hold the trigger key, speak, and the polished text is pasted\n"
    "where you type. Without options Vurin starts in the tray; when one already runs in this\n"
    "session, that one brings its window forward instead.\n"
    "\n"
    "  --session x11|wayland    serve this kind of session (default: what the session says)\n"
    "  --autostart              started at login by the autostart entry: open no window (but\n"
    "                           at the very first start), and leave a running Vurin alone\n"
    "  --trigger press|release  hand a trigger press or release to the running Vurin, for a\n"
    "                           key bound by the compositor\n"
    "  --trigger toggle         start a recording, or end and process the one running, for a\n"
    "                           shortcut that runs only on the press (GNOME)\n"
    "  --trigger send|cancel    what a click and a double click of the trigger do\n"
    "  -h, --help               show this help\n"
    "  --version                show the version and the build\n";

LauncherCommand wrong(std::string what) {
    return {LauncherAction::wrong, "vurin: " + what + " (" + std::string(usageLine) + ")"};
}

bool isSessionName(std::string_view value) {
    return value == "x11" || value == "wayland";
}

}  // namespace

LauncherCommand parseLauncherCommandLine(const std::vector<std::string_view>& arguments,
                                         std::string_view version, std::string_view build) {
    if (!arguments.empty() && arguments.front() == "--trigger") {
        for (const std::string_view action : {"press", "release", "toggle", "send", "cancel"}) {
            if (arguments.size() == 2 && arguments[1] == action) {
                return {LauncherAction::trigger, {}};
            }
        }
        return wrong("--trigger takes press, release, toggle, send or cancel");
    }
    bool sessionGiven = false;
    bool autostart = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            return {LauncherAction::help, std::string(usageLine) + std::string(helpText)};
        }
        if (argument == "--version") {
            std::string line = "Vurin " + std::string(version);
            if (!build.empty()) {
                line += " (" + std::string(build) + ")";
            }
            return {LauncherAction::version, line};
        }
        if (argument == "--autostart") {
            autostart = true;
            continue;
        }
        std::string_view session;
        if (argument == "--session") {
            session = i + 1 < arguments.size() ? arguments[++i] : "";
        } else if (argument.starts_with("--session=")) {
            session = argument.substr(std::string_view("--session=").size());
        } else {
            return wrong("unknown option " + std::string(argument));
        }
        if (!isSessionName(session) || sessionGiven) {
            return wrong("--session takes x11 or wayland, once");
        }
        sessionGiven = true;
    }
    return {LauncherAction::start, {}, autostart};
}

}  // namespace vurin
