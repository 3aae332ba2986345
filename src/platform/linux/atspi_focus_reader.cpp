#include "platform/linux/atspi_focus_reader.h"

// D-Bus and the AT-SPI names first.
#include "platform/linux/atspi_bus.h"
#include "platform/linux/atspi_focus_tracker.h"
#include "platform/linux/portal_common.h"

#include <gio/gio.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace vurin {

namespace {

// A capture waits this long at most for the first search of an application.
constexpr auto kFirstSearchWait = std::chrono::milliseconds(30);
// And this long for the applications' windows to be asked which one is active.
constexpr auto kScanWait = std::chrono::milliseconds(60);
// How long the session bus may take to name the accessibility bus.
constexpr int kBusTimeoutMs = 500;

template <typename T>
struct GObjectUnref {
    void operator()(T* object) const { g_object_unref(object); }
};
using BusConnection = std::unique_ptr<GDBusConnection, GObjectUnref<GDBusConnection>>;

// A private connection: the shared session-bus connection would end the whole process if the
// bus went away (GLib's exit-on-close).
BusConnection connectTo(const char* address) {
    GError* error = nullptr;
    GDBusConnection* connection =
        portal::connectPrivately(address, &error, std::chrono::milliseconds(kBusTimeoutMs));
    g_clear_error(&error);
    return BusConnection(connection);
}

void closeConnection(GDBusConnection* connection) {
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
}

}  // namespace

std::optional<std::string> processName(int pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!comm || !std::getline(comm, name) || name.empty()) {
        return std::nullopt;
    }
    return name;
}

AtspiFocusReader::AtspiFocusReader() : tracker_(std::make_unique<AtspiFocusTracker>()) {}

AtspiFocusReader::~AtspiFocusReader() = default;

// Opened once the tracker has reached the bus, so the main thread never waits for the session
// bus to name it.
atspi::Connection* AtspiFocusReader::calls() {
    if (calls_ && !calls_->connected()) {
        calls_.reset();
    }
    if (!calls_) {
        if (const auto address = tracker_->address()) {
            calls_ = atspi::Connection::open(*address);
        }
    }
    return calls_.get();
}

bool AtspiFocusReader::available() {
    return tracker_->address().has_value();
}

std::optional<AccessibleElementRef> AtspiFocusReader::focusedElementOf(int pid) {
    const auto focus = tracker_->focusIn(pid, kFirstSearchWait);
    return focus ? std::optional(focus->element) : std::nullopt;
}

int AtspiFocusReader::focusedProcessSince(std::chrono::steady_clock::time_point since) {
    return tracker_->focusedProcess(since);
}

std::optional<AtspiFocusReader::ActiveWindow> AtspiFocusReader::activeWindow() {
    const auto activeNow = [this](const std::optional<AtspiFocusTracker::ActiveWindow>& window) {
        if (!window) {
            return false;
        }
        if (window->pid == getpid()) {
            return true;
        }
        atspi::Connection* bus = calls();
        const auto states = bus ? bus->states(window->window) : std::nullopt;
        return states && atspi::has(*states, ATSPI_STATE_ACTIVE);
    };
    auto candidate = tracker_->lastActivatedWindow(kFirstSearchWait);
    if (!activeNow(candidate)) {
        candidate = tracker_->scannedActiveWindow(kScanWait);
        if (!activeNow(candidate)) {
            return std::nullopt;
        }
    }
    return ActiveWindow{candidate->window, candidate->pid, candidate->since};
}

bool AtspiFocusReader::focusedNow(const AccessibleElementRef& element) {
    atspi::Connection* bus = calls();
    const auto states = bus ? bus->states(element) : std::nullopt;
    return states && atspi::has(*states, ATSPI_STATE_FOCUSED);
}

std::optional<std::string> AtspiFocusReader::roleOf(const AccessibleElementRef& element) {
    if (const auto focus = tracker_->known(element)) {
        return focus->role;
    }
    atspi::Connection* bus = calls();
    return bus ? bus->role(element) : std::nullopt;
}

std::optional<std::string> AtspiFocusReader::textOf(const AccessibleElementRef& element) {
    atspi::Connection* bus = calls();
    return bus ? bus->text(element) : std::nullopt;
}

std::optional<TextSelectionRange> AtspiFocusReader::selectedRange(
    const AccessibleElementRef& element) {
    atspi::Connection* bus = calls();
    return bus ? bus->selection(element) : std::nullopt;
}

bool enableDesktopAccessibility() {
    DBusError error;
    dbus_error_init(&error);
    // A private connection, closed again: the shared one belongs to whoever opened it first.
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!bus) {
        dbus_error_free(&error);
        return false;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    DBusMessage* call = dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                     "org.freedesktop.DBus.Properties", "Set");
    bool done = false;
    if (call) {
        const char* interface = "org.a11y.Status";
        const char* property = "IsEnabled";
        const dbus_bool_t enabled = TRUE;
        DBusMessageIter arguments, variant;
        dbus_message_iter_init_append(call, &arguments);
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &interface);
        dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &property);
        dbus_message_iter_open_container(&arguments, DBUS_TYPE_VARIANT, "b", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &enabled);
        dbus_message_iter_close_container(&arguments, &variant);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, 1000, &error);
        done = reply != nullptr;
        if (reply) {
            dbus_message_unref(reply);
        }
        dbus_message_unref(call);
    }
    dbus_error_free(&error);
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return done;
}

bool accessibilityBusReachable() {
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

}  // namespace vurin
