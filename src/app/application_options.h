#pragma once

#include <optional>
#include <string>
#include <variant>

#include "platform/display_session.h"

namespace vurin {

// The application's own options, as the `vurin` command passes them on: --session x11|wayland
// (also --session=VALUE) and --autostart (the desktop started it at login, from the autostart
// entry).
struct ApplicationOptions {
    std::optional<DisplaySession> session;
    bool autostart = false;

    bool operator==(const ApplicationOptions&) const = default;
};

// Takes the options out of argv so that the toolkit does not see them; what it does not know
// stays for the toolkit. A usage line when --session is malformed.
using ParsedApplicationOptions = std::variant<ApplicationOptions, std::string>;
ParsedApplicationOptions takeApplicationOptions(int& argc, char** argv);

}  // namespace vurin
