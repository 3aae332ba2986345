#include "platform/linux/portal_probe.h"

#include <gio/gio.h>

#include "platform/linux/portal_common.h"

namespace vurin {

namespace {

constexpr int kTimeoutMs = 500;

// A property of the running portal, over a private connection (a shared one would end the
// process with the bus).
std::optional<unsigned> portalProperty(const char* interface, const char* property) {
    const std::string address = portal::sessionBusAddress();
    if (address.empty()) {
        return std::nullopt;
    }
    GError* error = nullptr;
    GDBusConnection* bus = portal::connectPrivately(address, &error);
    g_clear_error(&error);
    if (!bus) {
        return std::nullopt;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, portal::kName, portal::kPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", interface, property), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMs, nullptr, &error);
    g_clear_error(&error);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    if (!reply) {
        return std::nullopt;
    }
    std::optional<unsigned> number;
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (value && g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) {
        number = g_variant_get_uint32(value);
    }
    if (value) {
        g_variant_unref(value);
    }
    g_variant_unref(reply);
    return number;
}

}  // namespace

std::optional<unsigned> remoteDesktopDeviceTypes() {
    return portalProperty("org.freedesktop.portal.RemoteDesktop", "AvailableDeviceTypes");
}

std::optional<unsigned> globalShortcutsVersion() {
    return portalProperty("org.freedesktop.portal.GlobalShortcuts", "version");
}

}  // namespace vurin
