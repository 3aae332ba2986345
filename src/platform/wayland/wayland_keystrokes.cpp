#include "platform/wayland/wayland_keystrokes.h"

#include <utility>

#include "platform/linux/remote_desktop_keystrokes.h"
#include "platform/linux/uinput_keystrokes.h"
#include "platform/wayland/virtual_keyboard_keystrokes.h"
#include "support/log.h"

namespace vurin {

namespace {

std::string offeredNames(const WaylandKeystrokePaths& paths) {
    std::string offered;
    const auto add = [&](bool found, const char* name) {
        if (found) {
            offered += (offered.empty() ? "" : "、") + std::string(name);
        }
    };
    add(paths.virtualKeyboard, "虚拟键盘协议");
    add(paths.remoteDesktopPortal, "RemoteDesktop 门户");
    add(paths.uinputWritable, "/dev/uinput");
    return offered.empty() ? "无" : offered;
}

}  // namespace

std::shared_ptr<WaylandKeystrokes> WaylandKeystrokes::choose(const WaylandKeystrokePaths& offered,
                                                             bool mustTypeText) {
    const std::string names = offeredNames(offered);
    const auto made = [&](Path path, std::shared_ptr<KeystrokeSender> sender) {
        return std::shared_ptr<WaylandKeystrokes>(
            new WaylandKeystrokes(path, std::move(sender), names));
    };
    std::string why;
    if (offered.virtualKeyboard) {
        if (auto keyboard = VirtualKeyboardKeystrokes::open(&why)) {
            return made(Path::virtualKeyboard, std::move(keyboard));
        }
        log("⚠️ 虚拟键盘不可用:" + why + ",改用下一种按键注入途径");
    }
    if (offered.remoteDesktopPortal) {
        return made(Path::remoteDesktop, std::make_shared<RemoteDesktopKeystrokes>());
    }
    // uinput presses keys of the user's layout and cannot type arbitrary text.
    if (offered.uinputWritable && mustTypeText) {
        log("⚠️ 没有 data-control 时文字要逐字输入,uinput 做不到,不使用它");
    } else if (offered.uinputWritable) {
        if (auto device = UinputKeystrokes::create(&why)) {
            return made(Path::uinput, std::move(device));
        }
        log("⚠️ uinput 不可用:" + why);
    }
    return made(Path::none, nullptr);
}

WaylandKeystrokes::WaylandKeystrokes(Path path, std::shared_ptr<KeystrokeSender> sender,
                                     std::string offered)
    : path_(path), sender_(std::move(sender)), offered_(std::move(offered)) {}

std::string WaylandKeystrokes::pathName() const {
    switch (path_) {
        case Path::virtualKeyboard:
            return "虚拟键盘协议";
        case Path::remoteDesktop:
            return "RemoteDesktop 门户";
        case Path::uinput:
            return "/dev/uinput";
        case Path::none:
            break;
    }
    return "无";
}

bool WaylandKeystrokes::denied() const {
    return path_ == Path::remoteDesktop &&
           static_cast<RemoteDesktopKeystrokes&>(*sender_).state() ==
               RemoteDesktopKeystrokes::State::denied;
}

void WaylandKeystrokes::prepare() {
    if (path_ == Path::remoteDesktop) {
        static_cast<RemoteDesktopKeystrokes&>(*sender_).prepare();
    }
}

bool WaylandKeystrokes::post(Keystroke keystroke) {
    if (!sender_) {
        log("❌ Wayland 下没有可用的按键注入途径(桌面提供:" + offered_ + "),无法合成按键");
        return false;
    }
    return sender_->post(keystroke);
}

bool WaylandKeystrokes::typeText(const std::string& text) {
    if (!sender_) {
        log("❌ Wayland 下没有可用的按键注入途径(桌面提供:" + offered_ + "),无法输入文本");
        return false;
    }
    return sender_->typeText(text);
}

}  // namespace vurin
