#pragma once

#include <string>

#include "platform/permission_probe.h"

namespace vurin {

// The grants on an X11 desktop: synthetic input is the XTEST extension, the key grab is a trial
// passive grab of the key (given back at once), the accessibility bus is AT-SPI's bus as the
// session bus announces it. Each call opens and closes its own connections, so a display or
// bus that went away and came back is seen at the next call.
class X11PermissionProbe : public PermissionProbe {
  public:
    // `displayName` empty: $DISPLAY.
    explicit X11PermissionProbe(std::string displayName = {});

    SyntheticInputAccess syntheticInput() override;
    bool accessibilityBusReachable() override;
    KeyGrabAccess keyGrab(int evdevCode) override;

  private:
    const std::string displayName_;
};

}  // namespace vurin
