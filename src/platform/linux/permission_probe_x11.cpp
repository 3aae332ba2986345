#include "platform/linux/permission_probe_x11.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gio/gio.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/key_grab_x11.h"

namespace vurin {
namespace {

// How long the session bus may take to name the accessibility bus.
constexpr int kBusTimeoutMs = 500;

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

// Keeps a broken connection from ending the process: Xlib then fails the remaining calls.
void ignoreConnectionLoss(Display*, void*) {}

template <typename T>
struct GObjectUnref {
    void operator()(T* object) const { g_object_unref(object); }
};
using BusConnection = std::unique_ptr<GDBusConnection, GObjectUnref<GDBusConnection>>;

// A private connection: the shared session-bus connection would end the whole process if the
// bus went away (GLib's exit-on-close).
BusConnection connectTo(const char* address) {
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_clear_error(&error);
    return BusConnection(connection);
}

void closeConnection(GDBusConnection* connection) {
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
}

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
    // A session may name the bus directly, as AT-SPI's own clients honour.
    if (const char* direct = std::getenv("AT_SPI_BUS_ADDRESS"); direct && *direct) {
        const BusConnection accessibility = connectTo(direct);
        if (accessibility) {
            closeConnection(accessibility.get());
        }
        return accessibility != nullptr;
    }
    GError* error = nullptr;
    gchar* sessionAddress = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    g_clear_error(&error);
    if (!sessionAddress) {
        return false;
    }
    const BusConnection session = connectTo(sessionAddress);
    g_free(sessionAddress);
    if (!session) {
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        session.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, &error);
    g_clear_error(&error);
    closeConnection(session.get());
    if (!reply) {
        return false;
    }
    const gchar* address = nullptr;
    g_variant_get(reply, "(&s)", &address);
    bool reachable = false;
    if (address && *address) {
        if (const BusConnection accessibility = connectTo(address)) {
            reachable = true;
            closeConnection(accessibility.get());
        }
    }
    g_variant_unref(reply);
    return reachable;
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
