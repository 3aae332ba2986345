#include <chrono>
#include <cstdlib>

#include "app/event_tap_wiring.h"
#include "input/event_tap.h"
#include "input/trigger_delivery.h"
#include "platform/x11/focus_reader_x11.h"
#include "platform/x11/key_grab_x11.h"
#include "platform/x11/keystrokes_xtest.h"
#include "platform/x11/permission_probe_x11.h"
#include "platform/x11/selection_probe_x11.h"
#include "wiring/session_platform.h"

namespace vurin {

SessionPlatform makeX11Platform(const std::shared_ptr<MainQueue>& mainQueue) {
    auto keyGrab = std::make_shared<X11KeyGrab>();
    auto eventTap = EventTap::create(mainQueue, keyGrab);
    auto selections = std::make_shared<X11SelectionProbe>();
    const std::weak_ptr<EventTap> weakTap = eventTap;
    const char* display = std::getenv("DISPLAY");
    // Main thread only: set by attach, read by the bus deliveries that come after it.
    auto engineSlot = std::make_shared<std::weak_ptr<GestureEngine>>();
    SessionPlatform platform{
        .session = DisplaySession::x11,
        .triggerCapture = eventTap,
        .probe = std::make_shared<X11PermissionProbe>(),
        .focus = std::make_shared<X11FocusReader>(),
        .keystrokes = std::make_shared<XTestKeystrokeSender>(),
        .clipboardOwnerAnswers =
            [selections](ClipboardSelection selection) {
                return selections->ownerAnswers(selection, std::chrono::milliseconds(300));
            },
        .clipboardReaderProcess =
            [selections](std::uint32_t window) { return selections->requestorProcess(window); },
        .keyName =
            [weak = std::weak_ptr<X11KeyGrab>(keyGrab)](int evdev) -> std::optional<std::string> {
            auto live = weak.lock();
            return live ? live->keyName(evdev) : std::nullopt;
        },
        .startDetectKey =
            [weakTap] {
                if (auto tap = weakTap.lock()) {
                    tap->startDetectKey();
                }
            },
        .triggerHeld =
            [weakTap] {
                auto tap = weakTap.lock();
                return tap && tap->holdsTrigger();
            },
        .attach =
            [eventTap, engineSlot](const std::shared_ptr<AppController>& controller,
                                   std::function<void(const std::string&)> setLabel) {
                *engineSlot = controller->engine();
                wireEventTap(*eventTap, controller, std::move(setLabel));
            },
        // `vurin --trigger` goes straight to the gesture engine: on X11 it serves a key bound
        // elsewhere (a desktop shortcut), so it never doubles the grabbed key's presses.
        .bindingEvent =
            [mainQueue, engineSlot, order = std::make_shared<BindingEventOrder>()](bool down,
                                                                                   double at) {
                if (const auto admitted = order->admit(down, at, mainQueue->now())) {
                    postTriggerToEngine(*mainQueue, *engineSlot, down, *admitted);
                }
            },
        .bindingRegistered = [](bool) {},
        .compositorBindingLines = {},
        .startupLine = std::string("🖥️ 会话:X11(DISPLAY=") + (display ? display : "") +
                       ");触发键:X11 按键抓取;按键注入:XTest;剪贴板:X11 选区",
        .stop = [eventTap] { eventTap->stop(); }};
    return platform;
}

}  // namespace vurin
