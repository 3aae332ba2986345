#include "app/event_tap_wiring.h"

#include "config/config.h"

namespace vurin {

void wireEventTap(EventTap& tap, const std::shared_ptr<AppController>& controller,
                  std::function<void(const std::string& text)> setTriggerKeyLabel) {
    tap.setEngine(controller->engine());
    tap.setTapKeyCode(controller->config().keyCode);
    std::weak_ptr<AppController> weak = controller;
    EventTap::Callbacks callbacks;
    callbacks.storeKeyCode = [weak](std::int64_t keyCode) {
        if (auto live = weak.lock()) {
            live->config().keyCode = keyCode;
            saveConfig(live->config());
        }
    };
    callbacks.updateStatusIcon = [weak] {
        if (auto live = weak.lock()) {
            live->updateStatusIcon();
        }
    };
    callbacks.rebuildMenu = [weak] {
        if (auto live = weak.lock()) {
            live->rebuildMenu();
        }
    };
    callbacks.showDetectingKey = [weak] {
        if (auto live = weak.lock()) {
            live->showDetectingKey();
        }
    };
    callbacks.setTriggerKeyLabel = std::move(setTriggerKeyLabel);
    tap.setCallbacks(std::move(callbacks));
}

}  // namespace vurin
