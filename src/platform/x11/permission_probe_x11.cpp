#include "platform/x11/permission_probe_x11.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/atspi_focus_reader.h"
#include "platform/x11/key_grab_x11.h"

namespace vurin {
namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

// Keeps a broken connection from ending the process: Xlib then fails the remaining calls.
void ignoreConnectionLoss(Display*, void*) {}

}  // namespace

X11PermissionProbe::X11PermissionProbe(std::string displayName)
    : displayName_(std::move(displayName)) {}

SyntheticInputAccess X11PermissionProbe::syntheticInput() {
    const std::unique_ptr<Display, DisplayCloser> display(
        XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str()));
    if (!display) {
        return SyntheticInputAccess::noDisplay;
    }
    XSetIOErrorExitHandler(display.get(), ignoreConnectionLoss, nullptr);
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XTestQueryExtension(display.get(), &eventBase, &errorBase, &major, &minor)
               ? SyntheticInputAccess::granted
               : SyntheticInputAccess::noSyntheticInput;
}

bool X11PermissionProbe::accessibilityBusReachable() {
    return vurin::accessibilityBusReachable();
}

KeyGrabAccess X11PermissionProbe::keyGrab(int evdevCode) {
    // The same grab the trigger capture makes, on a connection of its own, given back at once.
    X11KeyGrab trial(displayName_);
    KeyGrab::Handlers ignore{.onKey = [](const KeyGrabEvent&) {},
                             .onFailure = [](const KeyGrabResult&) {}};
    const KeyGrabResult result = trial.start(evdevCode, std::move(ignore));
    trial.stop();
    switch (result.status) {
        case KeyGrabStatus::ok:
            return KeyGrabAccess::granted;
        case KeyGrabStatus::refused:
            return KeyGrabAccess::taken;
        case KeyGrabStatus::unavailable:
            break;
    }
    return KeyGrabAccess::noDisplay;
}

}  // namespace vurin
