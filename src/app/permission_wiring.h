#pragma once

#include <functional>
#include <memory>

#include "app/app_controller.h"
#include "app/permission_onboarding.h"

namespace vurin {

// The hooks that connect the permission gate to the application controller: its live
// configuration and its input setup, both holding the controller weakly. `triggerCaptureRunning`
// tells whether the trigger capture holds its key right now.
PermissionHooks permissionHooksFor(const std::shared_ptr<AppController>& controller,
                                   std::function<bool()> triggerCaptureRunning);

}  // namespace vurin
