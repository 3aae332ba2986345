#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/app_controller.h"
#include "input/event_tap.h"

namespace vurin {

// Connects the trigger capture to the controller that owns the gesture engine and the
// configuration: the engine it feeds, the trigger key code from the configuration, and what a
// key detection changes (the stored key code, the status item and the menu). Call once, after
// the controller is created and before it finishes launching. `setTriggerKeyLabel` shows a
// detection's messages in the settings window (empty: nowhere).
void wireEventTap(EventTap& tap, const std::shared_ptr<AppController>& controller,
                  std::function<void(const std::string& text)> setTriggerKeyLabel = {});

}  // namespace vurin
