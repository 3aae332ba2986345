#include "platform/wayland/permission_probe_wayland.h"

#include <unistd.h>

#include <utility>

#include "platform/linux/atspi_focus_reader.h"

namespace vurin {

WaylandPermissionProbe::WaylandPermissionProbe(
    std::function<KeyGrabAccess()> triggerAccess,
    std::function<SyntheticInputAccess()> keystrokeAccess, WaylandKeystrokePaths offered)
    : triggerAccess_(std::move(triggerAccess)),
      keystrokeAccess_(std::move(keystrokeAccess)),
      offered_(offered) {}

SyntheticInputAccess WaylandPermissionProbe::syntheticInput() {
    return keystrokeAccess_ ? keystrokeAccess_() : SyntheticInputAccess::noKeystrokePath;
}

bool WaylandPermissionProbe::accessibilityBusReachable() {
    return vurin::accessibilityBusReachable();
}

KeyGrabAccess WaylandPermissionProbe::keyGrab(int) {
    return triggerAccess_ ? triggerAccess_() : KeyGrabAccess::noTriggerSource;
}

bool uinputWritable() {
    return ::access("/dev/uinput", W_OK) == 0;
}

}  // namespace vurin
