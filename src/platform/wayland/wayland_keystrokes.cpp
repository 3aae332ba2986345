#include "platform/wayland/wayland_keystrokes.h"

#include <utility>

#include "platform/linux/remote_desktop_keystrokes.h"
#include "platform/linux/uinput_keystrokes.h"
#include "platform/wayland/keyboard_keymap.h"
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

constexpr WaylandKeystrokes::Path kOrder[] = {WaylandKeystrokes::Path::virtualKeyboard,
                                              WaylandKeystrokes::Path::remoteDesktop,
                                              WaylandKeystrokes::Path::uinput};

}  // namespace

std::shared_ptr<WaylandKeystrokes> WaylandKeystrokes::create(const WaylandKeystrokePaths& offered) {
    return std::shared_ptr<WaylandKeystrokes>(new WaylandKeystrokes(offered));
}

WaylandKeystrokes::WaylandKeystrokes(const WaylandKeystrokePaths& offered)
    : offered_(offered), offeredNames_(offeredNames(offered)) {
    if (offered.virtualKeyboard) {
        return;
    }
    // A portal that is not running yet (an autostarted Vurin at login) is started by this
    // question; the answer is there long before the first dictation.
    remoteDesktop_ = std::make_unique<RemoteDesktopKeystrokes>(std::string(), typeableKeysyms);
    if (offered.uinputWritable) {
        std::string why;
        uinput_ = UinputKeystrokes::create(&why);
        if (!uinput_) {
            log("⚠️ uinput 不可用:" + why);
        }
    }
}

WaylandKeystrokes::~WaylandKeystrokes() = default;

bool WaylandKeystrokes::usable(Path path) const {
    switch (path) {
        case Path::virtualKeyboard:
            return offered_.virtualKeyboard && !virtualKeyboardFailed_;
        case Path::remoteDesktop:
            // A session that failed is started again at the next need; only a refusal, or a
            // portal that says it has no keyboard, rules the path out.
            return remoteDesktop_ &&
                   remoteDesktop_->state() != RemoteDesktopKeystrokes::State::denied &&
                   remoteDesktop_->offersKeyboard() != std::optional<bool>(false);
        case Path::uinput:
            return uinput_ != nullptr;
        case Path::none:
            break;
    }
    return false;
}

KeystrokeSender* WaylandKeystrokes::senderFor(Path path) const {
    switch (path) {
        case Path::virtualKeyboard:
            return virtualKeyboard_.get();
        case Path::remoteDesktop:
            return remoteDesktop_.get();
        case Path::uinput:
            return uinput_.get();
        case Path::none:
            break;
    }
    return nullptr;
}

KeystrokeSender* WaylandKeystrokes::choose() {
    if (inUse_ != Path::none && usable(inUse_)) {
        return senderFor(inUse_);
    }
    const Path before = inUse_;
    inUse_ = Path::none;
    for (const Path candidate : kOrder) {
        if (!usable(candidate)) {
            continue;
        }
        if (candidate == Path::virtualKeyboard && !virtualKeyboard_) {
            std::string why;
            virtualKeyboard_ = VirtualKeyboardKeystrokes::open(&why);
            if (!virtualKeyboard_) {
                virtualKeyboardFailed_ = true;
                log("⚠️ 虚拟键盘不可用:" + why + ",改用下一种按键注入途径");
                continue;
            }
        }
        inUse_ = candidate;
        break;
    }
    // Losing every path is said by the request that finds none.
    if (inUse_ != before && inUse_ != Path::none) {
        log("⌨️ 按键注入途径:" + pathName(inUse_));
    }
    return senderFor(inUse_);
}

WaylandKeystrokes::Path WaylandKeystrokes::path() const {
    if (inUse_ != Path::none) {
        return inUse_;
    }
    for (const Path candidate : kOrder) {
        if (usable(candidate)) {
            return candidate;
        }
    }
    return Path::none;
}

std::string WaylandKeystrokes::pathName(Path path) {
    switch (path) {
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

std::string WaylandKeystrokes::pathName() const {
    return pathName(path());
}

bool WaylandKeystrokes::denied() const {
    return remoteDesktop_ && remoteDesktop_->state() == RemoteDesktopKeystrokes::State::denied;
}

void WaylandKeystrokes::prepare() {
    if (KeystrokeSender* sender = choose()) {
        sender->prepare();
    }
}

void WaylandKeystrokes::send(Keystroke keystroke, std::size_t count,
                             std::chrono::microseconds interval, Done done) {
    KeystrokeSender* sender = choose();
    if (!sender) {
        log("❌ Wayland 下没有可用的按键注入途径(桌面提供:" + offeredNames_ + "),无法合成按键");
        done({.sent = 0, .total = count});
        return;
    }
    sender->send(keystroke, count, interval, std::move(done));
}

void WaylandKeystrokes::type(const std::string& text, Done done) {
    KeystrokeSender* sender = choose();
    if (!sender || inUse_ == Path::uinput) {
        log(sender ? "❌ /dev/uinput 只能按键,不能逐字输入文字,文字没有送达"
                   : "❌ Wayland 下没有可用的按键注入途径(桌面提供:" + offeredNames_ +
                         "),无法输入文本");
        done({.sent = 0, .total = codePointCount(text)});
        return;
    }
    sender->type(text, std::move(done));
}

}  // namespace vurin
