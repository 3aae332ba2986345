#include "app/application_options.h"

#include <string_view>

namespace vurin {

namespace {

constexpr const char* kUsage = "usage: vurin [--session x11|wayland] [--autostart]";

std::optional<DisplaySession> parseSession(std::string_view text) {
    if (text == "x11") {
        return DisplaySession::x11;
    }
    if (text == "wayland") {
        return DisplaySession::wayland;
    }
    return std::nullopt;
}

}  // namespace

ParsedApplicationOptions takeApplicationOptions(int& argc, char** argv) {
    ApplicationOptions options;
    int kept = 1;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        std::optional<std::string_view> value;
        if (argument == "--autostart") {
            options.autostart = true;
            continue;
        }
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
        options.session = parseSession(*value);
        if (!options.session) {
            return std::string(kUsage);
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return options;
}

}  // namespace vurin
