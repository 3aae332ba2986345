#include "platform/linux/portal_probe.h"

#include <gio/gio.h>

namespace vurin {

namespace {

constexpr int kTimeoutMs = 500;

}  // namespace

std::optional<unsigned> remoteDesktopDeviceTypes() {
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    g_clear_error(&error);
    if (!address) {
        return std::nullopt;
    }
    // Private: the shared connection would end the process if the bus went away.
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_free(address);
    g_clear_error(&error);
    if (!bus) {
        return std::nullopt;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.portal.RemoteDesktop", "AvailableDeviceTypes"),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMs, nullptr, &error);
    g_clear_error(&error);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    if (!reply) {
        return std::nullopt;
    }
    std::optional<unsigned> types;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) {
        types = g_variant_get_uint32(value);
    }
    if (value) {
        g_variant_unref(value);
    }
    g_variant_unref(reply);
    return types;
}

}  // namespace vurin
