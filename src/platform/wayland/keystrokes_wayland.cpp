#include "platform/wayland/keystrokes_wayland.h"

#include <utility>

#include "support/log.h"

namespace vurin {

UnbuiltWaylandKeystrokes::UnbuiltWaylandKeystrokes(std::string offered)
    : offered_(std::move(offered)) {}

bool UnbuiltWaylandKeystrokes::post(Keystroke) {
    log("❌ Wayland 下还没有可用的按键注入途径(桌面提供:" +
        (offered_.empty() ? std::string("无") : offered_) + "),无法合成按键");
    return false;
}

}  // namespace vurin
