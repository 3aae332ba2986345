#include "platform/wayland/permission_probe_wayland.h"

#include <unistd.h>

#include <utility>

#include "platform/linux/atspi_focus_reader.h"

namespace vurin {

WaylandPermissionProbe::WaylandPermissionProbe(std::function<KeyGrabAccess()> triggerAccess,
                                               WaylandKeystrokePaths offered)
    : triggerAccess_(std::move(triggerAccess)), offered_(offered) {}

SyntheticInputAccess WaylandPermissionProbe::syntheticInput() {
    // None of the offered paths is built yet: a paste would reach nobody.
    return SyntheticInputAccess::noKeystrokePath;
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
