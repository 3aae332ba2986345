#pragma once

#include <functional>

#include "platform/keystroke_paths.h"
#include "platform/permission_probe.h"

namespace vurin {

// The grants in a Wayland session. The trigger is whatever the Wayland trigger capture reports
// (no program may grab a key there, so the configured key is not tried); synthetic input is
// what the keystroke path chosen at start reports (a portal's consent can be declined later);
// the accessibility bus is checked as on X11.
class WaylandPermissionProbe : public PermissionProbe {
  public:
    WaylandPermissionProbe(std::function<KeyGrabAccess()> triggerAccess,
                           std::function<SyntheticInputAccess()> keystrokeAccess,
                           WaylandKeystrokePaths offered);

    SyntheticInputAccess syntheticInput() override;
    bool accessibilityBusReachable() override;
    KeyGrabAccess keyGrab(int evdevCode) override;

    const WaylandKeystrokePaths& offered() const { return offered_; }

  private:
    const std::function<KeyGrabAccess()> triggerAccess_;
    const std::function<SyntheticInputAccess()> keystrokeAccess_;
    const WaylandKeystrokePaths offered_;
};

// Whether this user may open /dev/uinput for writing now (access(2), nothing is opened).
bool uinputWritable();

}  // namespace vurin
