#include <algorithm>

#include "app/app_controller.h"
#include "input/trigger_delivery.h"
#include "support/log.h"

namespace vurin {

void AppController::triggerCommand(TriggerCommand command, double at) {
    // A caller's clock is not trusted further than a key's: a time from the future or long ago
    // would otherwise shut out every toggle after it.
    at = clampedSourceTime(at, services_.mainQueue->now());
    switch (command) {
        case TriggerCommand::send:
            handleSingleClick();
            return;
        case TriggerCommand::cancel:
            cancel();
            return;
        case TriggerCommand::toggle:
            break;
    }
    if (lastToggleAt_ && at < *lastToggleAt_) {
        log("⚠️ vurin --trigger toggle 晚于之后的一次切换才到达,已忽略");
        return;
    }
    // A held shortcut repeats its command after the keyboard's repeat delay, then many times a
    // second: every toggle that follows the one before within the window is the same hold.
    const bool repeat = lastToggleSeenAt_ && at - *lastToggleSeenAt_ < kToggleRepeatSeconds;
    lastToggleSeenAt_ = std::max(at, lastToggleSeenAt_.value_or(at));
    if (repeat) {
        if (!toggleRepeatLogged_) {
            toggleRepeatLogged_ = true;
            log("ℹ️ "
                "按住快捷键时桌面重复运行的切换已忽略(松开后再按才算下一次)");
        }
        return;
    }
    lastToggleAt_ = at;
    if (services_.recorder->isRecording()) {
        stopAndProcess();
    } else {
        startRecording();
    }
}

}  // namespace vurin
