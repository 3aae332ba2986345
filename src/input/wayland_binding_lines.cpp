#include "input/wayland_trigger_capture.h"
#include "support/text.h"

// What the settings window and the log show for a key bound in the compositor.
namespace vurin {

std::vector<std::string> WaylandTriggerCapture::swayBindingLines(const std::string& keyName,
                                                                 const std::string& program) {
    const std::string command = shellWord(program);
    // Without --no-repeat sway runs the press again at each of the key's repeats, 25 times a
    // second while the user speaks: a process each, and a call to Vurin.
    return {"bindsym --no-repeat " + keyName + " exec " + command + " --trigger press",
            "bindsym --release " + keyName + " exec " + command + " --trigger release"};
}

std::vector<std::string> WaylandTriggerCapture::hyprlandBindingLines(const std::string& keyName,
                                                                     const std::string& program) {
    const std::string command = shellWord(program);
    return {"bind = , " + keyName + ", exec, " + command + " --trigger press",
            "bindr = , " + keyName + ", exec, " + command + " --trigger release"};
}

}  // namespace vurin
