#include "app/permission_wiring.h"

#include <utility>

namespace vurin {

PermissionHooks permissionHooksFor(const std::shared_ptr<AppController>& controller,
                                   std::function<bool()> triggerCaptureRunning) {
    const std::weak_ptr<AppController> weak = controller;
    PermissionHooks hooks;
    hooks.config = [weak]() -> Config* {
        auto owner = weak.lock();
        return owner ? &owner->config() : nullptr;
    };
    hooks.finishInputSetup = [weak] {
        auto owner = weak.lock();
        return owner && owner->finishInputSetup();
    };
    hooks.triggerCaptureRunning = std::move(triggerCaptureRunning);
    return hooks;
}

}  // namespace vurin
