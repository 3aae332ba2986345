#include "input/wayland_trigger_capture.h"
#include "support/text.h"

// What the settings window and the log show for a key bound in the compositor.
namespace vurin {

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
