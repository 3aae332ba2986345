#pragma once

#include <memory>

#include "app/app_controller.h"
#include "app/application_shell.h"
#include "phone/phone_remote_controller.h"

namespace vurin {

// The hooks that connect the phone remote to the application controller: its live
// configuration, its gesture engine and its menu. All hold the controller weakly.
PhoneRemoteHooks phoneRemoteHooksFor(const std::shared_ptr<AppController>& controller,
                                     std::shared_ptr<ApplicationShell> shell);

}  // namespace vurin
