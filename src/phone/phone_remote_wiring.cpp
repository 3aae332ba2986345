#include "phone/phone_remote_wiring.h"

namespace vurin {

PhoneRemoteHooks phoneRemoteHooksFor(const std::shared_ptr<AppController>& controller,
                                     std::shared_ptr<ApplicationShell> shell) {
    const std::weak_ptr<AppController> weak = controller;
    PhoneRemoteHooks hooks;
    hooks.config = [weak]() -> Config* {
        auto owner = weak.lock();
        return owner ? &owner->config() : nullptr;
    };
    hooks.keyDown = [weak](double at) {
        if (auto owner = weak.lock()) {
            owner->engine()->keyDown(at);
        }
    };
    hooks.keyUp = [weak](double at) {
        if (auto owner = weak.lock()) {
            owner->engine()->keyUp(at);
        }
    };
    hooks.rebuildMenu = [weak] {
        if (auto owner = weak.lock()) {
            owner->rebuildMenu();
        }
    };
    hooks.activateApplication = [shell = std::move(shell)] {
        if (shell) {
            shell->setActivationPolicy(ActivationPolicy::regular);
            shell->activateIgnoringOtherApps();
        }
    };
    return hooks;
}

}  // namespace vurin
