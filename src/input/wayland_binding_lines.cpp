#include "input/wayland_trigger_capture.h"

// What the settings window and the log show for a key bound in the compositor.
namespace vurin {

namespace {

// The compositor runs a binding's command through the shell: a path with a space or a shell
// character must reach it as one word.
std::string shellWord(const std::string& word) {
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvw"
                                            "xyz0123456789_./+-") == std::string::npos;
    if (plain) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

std::vector<std::string> WaylandTriggerCapture::swayBindingLines(const std::string& keyName,
                                                                 const std::string& program) {
    const std::string command = shellWord(program);
    return {"bindsym " + keyName + " exec " + command + " --trigger press",
            "bindsym --release " + keyName + " exec " + command + " --trigger release"};
}

std::vector<std::string> WaylandTriggerCapture::hyprlandBindingLines(const std::string& keyName,
                                                                     const std::string& program) {
    const std::string command = shellWord(program);
    return {"bind = , " + keyName + ", exec, " + command + " --trigger press",
            "bindr = , " + keyName + ", exec, " + command + " --trigger release"};
}

}  // namespace vurin
