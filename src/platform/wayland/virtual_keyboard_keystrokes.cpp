#include "platform/wayland/virtual_keyboard_keystrokes.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/linux/text_keysyms.h"
#include "platform/wayland/virtual_keymap.h"
#include "platform/wayland/wayland_roundtrip.h"
#include "support/log.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace vurin {

namespace {

// Real modifier bits, the same in every XKB keymap.
constexpr std::uint32_t kShiftMask = 1U << 0;
constexpr std::uint32_t kControlMask = 1U << 2;
// libwayland gives up on a connection whose 4 KiB out-buffer fills while the socket is full:
// long text is flushed every so many requests (about 20 bytes each).
constexpr int kRequestsPerFlush = 128;
constexpr int kFlushWaitMs = 2000;
// The compositor answers a round trip within this time, or it counts as not answering.
constexpr auto kAnswerWait = std::chrono::milliseconds(2000);
// sway drops keys from a virtual keyboard that appeared only just before (measured with 1.7:
// most of them within the first 30 ms); a keyboard made at start never waits for this.
constexpr auto kNewKeyboardSettle = std::chrono::milliseconds(100);

std::vector<VirtualKeymap::Key> fixedKeys() {
    return {{XKB_KEY_Control_L, 29}, {XKB_KEY_Shift_L, 42}, {XKB_KEY_v, 47},
            {XKB_KEY_Insert, 110},   {XKB_KEY_Return, 28},  {XKB_KEY_BackSpace, 14}};
}

struct Chord {
    std::vector<std::uint32_t> modifiers;
    std::uint32_t key;
};

Chord chordFor(Keystroke keystroke) {
    switch (keystroke) {
        case Keystroke::pasteControlV:
            return {{XKB_KEY_Control_L}, XKB_KEY_v};
        case Keystroke::pasteShiftInsert:
            return {{XKB_KEY_Shift_L}, XKB_KEY_Insert};
        case Keystroke::pasteControlShiftV:
            return {{XKB_KEY_Control_L, XKB_KEY_Shift_L}, XKB_KEY_v};
        case Keystroke::returnKey:
            return {{}, XKB_KEY_Return};
        case Keystroke::backspace:
            return {{}, XKB_KEY_BackSpace};
    }
    return {{}, XKB_KEY_NoSymbol};
}

struct Globals {
    std::uint32_t manager = 0;
    std::uint32_t seat = 0;
};

void addGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        globals->manager = name;
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == 0) {
        globals->seat = name;
    }
}

void removeGlobal(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener{.global = addGlobal, .global_remove = removeGlobal};

}  // namespace

struct VirtualKeyboardKeystrokes::Connection {
    wl_display* display = nullptr;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    VirtualKeymap keymap{fixedKeys()};
    std::string uploaded;
    std::uint32_t lastTime = 0;
    std::chrono::steady_clock::time_point settled;
    int unflushed = 0;
    bool failed = false;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ~Connection() {
        if (keyboard) {
            zwp_virtual_keyboard_v1_destroy(keyboard);
        }
        if (manager) {
            zwp_virtual_keyboard_manager_v1_destroy(manager);
        }
        if (seat) {
            wl_seat_destroy(seat);
        }
        if (display) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }

    static std::unique_ptr<Connection> open(std::string* why) {
        auto connection = std::make_unique<Connection>();
        connection->display = wl_display_connect(nullptr);
        if (!connection->display) {
            *why = std::string("连不上 Wayland 合成器:") + std::strerror(errno);
            return nullptr;
        }
        Globals globals;
        wl_registry* registry = wl_display_get_registry(connection->display);
        wl_registry_add_listener(registry, &kRegistryListener, &globals);
        const bool answered = roundtripWithin(connection->display, kAnswerWait);
        if (answered && globals.manager && globals.seat) {
            connection->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(wl_registry_bind(
                registry, globals.manager, &zwp_virtual_keyboard_manager_v1_interface, 1));
            connection->seat = static_cast<wl_seat*>(
                wl_registry_bind(registry, globals.seat, &wl_seat_interface, 1));
        }
        wl_registry_destroy(registry);
        if (!answered) {
            *why = "Wayland 合成器没有应答";
            return nullptr;
        }
        if (!connection->manager) {
            *why = globals.manager ? "合成器没有座位(wl_seat)"
                                   : "合成器不提供虚拟键盘协议(zwp_virtual_keyboard_manager_v1)";
            return nullptr;
        }
        connection->keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
            connection->manager, connection->seat);
        if (!connection->uploadKeymap() || !connection->finish()) {
            *why = "合成器不接受虚拟键盘:" + connection->error();
            return nullptr;
        }
        connection->settled = std::chrono::steady_clock::now() + kNewKeyboardSettle;
        return connection;
    }

    std::string error() const {
        const int code = wl_display_get_error(display);
        if (code == EPROTO) {
            const wl_interface* interface = nullptr;
            const std::uint32_t protocolCode =
                wl_display_get_protocol_error(display, &interface, nullptr);
            return std::string("协议错误 ") + (interface ? interface->name : "?") + " #" +
                   std::to_string(protocolCode);
        }
        return code ? std::strerror(code) : "连接中断";
    }

    // Queues the keymap when it differs from the compositor's.
    bool uploadKeymap() {
        const std::string text = keymap.text();
        if (text == uploaded) {
            return true;
        }
        const int fd = memfd_create("vurin-keymap", MFD_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        const std::size_t size = text.size() + 1;  // with its terminating NUL
        const bool written = write(fd, text.c_str(), size) == static_cast<ssize_t>(size);
        if (written) {
            // The request carries a duplicate of the descriptor.
            zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           static_cast<std::uint32_t>(size));
            uploaded = text;
        }
        close(fd);
        return written && counted();
    }

    std::uint32_t nextTime() {
        const auto now =
            static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now().time_since_epoch())
                                           .count());
        lastTime = std::max(now, lastTime + 1);
        return lastTime;
    }

    bool key(std::uint32_t keysym, bool pressed) {
        const std::optional<std::uint32_t> code = keymap.codeOf(keysym);
        if (!code) {
            return false;
        }
        zwp_virtual_keyboard_v1_key(
            keyboard, nextTime(), *code,
            pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        return counted();
    }

    bool modifiers(std::uint32_t depressed) {
        zwp_virtual_keyboard_v1_modifiers(keyboard, depressed, 0, 0, 0);
        return counted();
    }

    // One more request queued: flushes now and then, so the out-buffer never overflows.
    bool counted() { return ++unflushed < kRequestsPerFlush || flush(); }

    bool flush() {
        unflushed = 0;
        while (wl_display_flush(display) < 0) {
            pollfd writable{.fd = wl_display_get_fd(display), .events = POLLOUT, .revents = 0};
            if (errno != EAGAIN || poll(&writable, 1, kFlushWaitMs) <= 0) {
                failed = true;
                return false;
            }
        }
        return true;
    }

    // Sends what is queued and waits for the compositor to have handled it.
    bool finish() {
        if (!flush() || !roundtripWithin(display, kAnswerWait)) {
            failed = true;
        }
        return !failed;
    }
};

VirtualKeyboardKeystrokes::VirtualKeyboardKeystrokes() = default;
VirtualKeyboardKeystrokes::~VirtualKeyboardKeystrokes() = default;

std::unique_ptr<VirtualKeyboardKeystrokes> VirtualKeyboardKeystrokes::open(std::string* why) {
    std::string reason;
    auto connection = Connection::open(&reason);
    if (!connection) {
        if (why) {
            *why = reason;
        }
        return nullptr;
    }
    std::unique_ptr<VirtualKeyboardKeystrokes> sender(new VirtualKeyboardKeystrokes());
    sender->connection_ = std::move(connection);
    return sender;
}

VirtualKeyboardKeystrokes::Connection* VirtualKeyboardKeystrokes::connection() {
    if (connection_ && connection_->failed) {
        log("⚠️ 虚拟键盘:与合成器的连接出错(" + connection_->error() +
            "),重新连接");
        connection_.reset();
    }
    if (!connection_) {
        std::string why;
        connection_ = Connection::open(&why);
        if (!connection_) {
            log("❌ 虚拟键盘:" + why + ",按键未发送");
            return nullptr;
        }
    }
    std::this_thread::sleep_until(connection_->settled);
    return connection_.get();
}

bool VirtualKeyboardKeystrokes::post(Keystroke keystroke) {
    Connection* wayland = connection();
    if (!wayland) {
        return false;
    }
    const Chord chord = chordFor(keystroke);
    std::uint32_t mask = 0;
    for (std::uint32_t modifier : chord.modifiers) {
        mask |= modifier == XKB_KEY_Control_L ? kControlMask : kShiftMask;
        wayland->key(modifier, true);
        wayland->modifiers(mask);
    }
    wayland->key(chord.key, true);
    wayland->key(chord.key, false);
    for (auto it = chord.modifiers.rbegin(); it != chord.modifiers.rend(); ++it) {
        wayland->key(*it, false);
    }
    wayland->modifiers(0);
    if (!wayland->finish()) {
        log("❌ 虚拟键盘:合成器没有接受按键(" + wayland->error() + ")");
        return false;
    }
    return true;
}

bool VirtualKeyboardKeystrokes::typeText(const std::string& text) {
    const std::optional<std::vector<std::uint32_t>> keysyms = keysymsForText(text);
    if (!keysyms) {
        log("❌ 虚拟键盘:文本含无法按键输入的字符(控制字符或无效 UTF-8),未输入");
        return false;
    }
    Connection* wayland = connection();
    if (!wayland) {
        return false;
    }
    // Text that needs more keys than the keymap holds goes in parts, each with its keymap.
    std::size_t sent = 0;
    const auto sendUpTo = [&](std::size_t end) {
        wayland->uploadKeymap();
        for (; sent < end; ++sent) {
            wayland->key((*keysyms)[sent], true);
            wayland->key((*keysyms)[sent], false);
        }
    };
    wayland->modifiers(0);
    for (std::size_t index = 0; index < keysyms->size(); ++index) {
        if (!wayland->keymap.add((*keysyms)[index])) {
            sendUpTo(index);
            wayland->keymap.clearAdded();
            wayland->keymap.add((*keysyms)[index]);
        }
    }
    sendUpTo(keysyms->size());
    if (!wayland->finish()) {
        log("❌ 虚拟键盘:合成器没有接受输入的文本(" + wayland->error() + ")");
        return false;
    }
    return true;
}

}  // namespace vurin
