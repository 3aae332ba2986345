#include <gio/gio.h>

#include "platform/linux/global_shortcuts_run.h"
#include "support/log.h"

// The bus, the start of a session and its endings.
namespace vurin {

using namespace shortcuts_portal;
using portal::messageOf;
using portal::remoteErrorName;
using portal::sessionBusAddress;

guint GlobalShortcutsPortal::Run::addTimeout(guint ms, GSourceFunc function) {
    GSource* source = g_timeout_source_new(ms);
    g_source_set_callback(source, function, this, nullptr);
    const guint id = g_source_attach(source, context);
    g_source_unref(source);
    return id;
}

void GlobalShortcutsPortal::Run::removeTimeout(guint& id) {
    if (id) {
        if (GSource* source = g_main_context_find_source_by_id(context, id)) {
            g_source_destroy(source);
        }
        id = 0;
    }
}

guint GlobalShortcutsPortal::Run::subscribe(const char* sender, const char* interface,
                                            const char* member, const char* path, const char* arg0,
                                            GDBusSignalCallback callback) {
    return g_dbus_connection_signal_subscribe(bus, sender, interface, member, path, arg0,
                                              G_DBUS_SIGNAL_FLAGS_NONE, callback, this, nullptr);
}

void GlobalShortcutsPortal::Run::unsubscribe(guint& id) {
    if (id) {
        g_dbus_connection_signal_unsubscribe(bus, id);
        id = 0;
    }
}

void GlobalShortcutsPortal::Run::call(const char* path, const char* interface, const char* method,
                                      GVariant* parameters, const GVariantType* replyType,
                                      GAsyncReadyCallback callback, GDBusCallFlags flags) {
    ++pendingCalls;
    g_dbus_connection_call(bus, portalName, path, interface, method, parameters, replyType, flags,
                           callTimeoutMs, cancellable, callback, this);
}

void GlobalShortcutsPortal::Run::send(const char* path, const char* interface, const char* method,
                                      GVariant* parameters) {
    g_dbus_connection_call(bus, portalName, path, interface, method, parameters, nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

bool GlobalShortcutsPortal::Run::answered() {
    --pendingCalls;
    if (closing) {
        quitWhenDrained();
        return false;
    }
    return true;
}

void GlobalShortcutsPortal::Run::begin() {
    const std::string address = impl.address.empty() ? sessionBusAddress() : impl.address;
    if (address.empty()) {
        finishStart(PortalStatus::unavailable, "没有会话总线(DBUS_SESSION_BUS_ADDRESS 未设置)");
        return;
    }
    connectTimeout = addTimeout(connectTimeoutMs, [](gpointer data) -> gboolean {
        auto* run = static_cast<Run*>(data);
        run->connectTimeout = 0;
        run->connectTimedOut = true;
        g_cancellable_cancel(run->cancellable);
        return G_SOURCE_REMOVE;
    });
    ++pendingCalls;
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable,
        [](GObject*, GAsyncResult* result, gpointer data) {
            auto* run = static_cast<Run*>(data);
            GError* error = nullptr;
            run->bus = g_dbus_connection_new_for_address_finish(result, &error);
            if (run->answered()) {
                run->connected(error);
            }
            g_clear_error(&error);
        },
        this);
}

void GlobalShortcutsPortal::Run::connected(GError* error) {
    removeTimeout(connectTimeout);
    if (!bus) {
        finishStart(PortalStatus::unavailable, connectTimedOut
                                                   ? "会话总线 5 秒内没有接受连接"
                                                   : "无法连接会话总线:" + messageOf(error));
        return;
    }
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    busClosedHandler = g_signal_connect(
        bus, "closed", G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer data) {
            auto* run = static_cast<Run*>(data);
            if (!run->closing) {
                run->ended("与会话总线的连接已断开");
            }
        }),
        this);
    ownerSubscription =
        subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                  "/org/freedesktop/DBus", portalName,
                  [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant* parameters, gpointer data) {
                      const gchar* newOwner = nullptr;
                      g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &newOwner);
                      static_cast<Run*>(data)->portalOwnerChanged(newOwner ? newOwner : "");
                  });
    readVersion();
}

void GlobalShortcutsPortal::Run::readVersion() {
    call(portalPath, "org.freedesktop.DBus.Properties", "Get",
         g_variant_new("(ss)", shortcutsInterface, "version"), G_VARIANT_TYPE("(v)"),
         answeredBy<&Run::versionRead>, G_DBUS_CALL_FLAGS_NONE);
}

void GlobalShortcutsPortal::Run::portalOwnerChanged(const std::string& newOwner) {
    if (closing) {
        return;
    }
    if (newOwner.empty()) {
        awaitingPortal = true;
        ended("桌面门户已离开会话总线");
        return;
    }
    if (!awaitingPortal) {
        return;
    }
    // A restarted portal knows nothing of our session: everything from the version on, anew.
    awaitingPortal = false;
    restartAttempts = 0;
    startAgain();
}

void GlobalShortcutsPortal::Run::startAgain() {
    clearRequest();
    startReported = false;
    sessionHandle.clear();
    version = 0;
    readVersion();
}

void GlobalShortcutsPortal::Run::versionRead(GVariant* reply, GError* error) {
    if (!reply) {
        const std::string name = remoteErrorName(error);
        if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
            name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
            finishStart(PortalStatus::unavailable,
                        "会话总线上没有桌面门户(org.freedesktop.portal.Desktop)");
        } else if (name == "org.freedesktop.DBus.Error.UnknownInterface" ||
                   name == "org.freedesktop.DBus.Error.UnknownProperty" ||
                   name == "org.freedesktop.DBus.Error.UnknownObject" ||
                   name == "org.freedesktop.DBus.Error.UnknownMethod" ||
                   name == "org.freedesktop.DBus.Error.InvalidArgs") {
            finishStart(PortalStatus::unavailable,
                        "桌面门户没有 GlobalShortcuts 接口:" + messageOf(error));
        } else {
            finishStart(PortalStatus::failed,
                        "读取 GlobalShortcuts 接口版本失败:" + messageOf(error));
        }
        return;
    }
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) {
        version = g_variant_get_uint32(value);
    }
    g_variant_unref(value);
    impl.version = version;
    createSession();
}

void GlobalShortcutsPortal::Run::dropSession() {
    for (guint& id : subscriptions) {
        unsubscribe(id);
    }
    subscriptions.clear();
    sessionOpen = false;
    impl.sessionOpen = false;
}

void GlobalShortcutsPortal::Run::finishStart(PortalStatus status, const std::string& reason) {
    if (startReported) {
        return;
    }
    startReported = true;
    clearRequest();
    if (!sessionHandle.empty() && bus) {
        send(sessionHandle.c_str(), sessionInterface, "Close", nullptr);
    }
    sessionHandle.clear();
    dropSession();
    // A portal that has just come back may not have its desktop's backend in place yet (it
    // starts them as it goes): it is asked again a few times before the failure is told.
    if (restartAttempts >= 0 && restartAttempts < restartRetries && status != PortalStatus::bound &&
        status != PortalStatus::notBound) {
        ++restartAttempts;
        // A frontend that restarted alone left its backend our old session under our token
        // (Plasma 5.27 keeps them): the last try takes another token, and another shortcut name.
        if (restartAttempts == restartRetries) {
            sessionToken = "vurin" + std::to_string(tokens);
        }
        retryTimeout = addTimeout(restartRetryMs * restartAttempts, [](gpointer data) -> gboolean {
            auto* run = static_cast<Run*>(data);
            run->retryTimeout = 0;
            if (!run->closing && !run->awaitingPortal) {
                run->startAgain();
            }
            return G_SOURCE_REMOVE;
        });
        return;
    }
    notify(handlers.onStarted, PortalStartResult{status, {}, reason, version});
}

void GlobalShortcutsPortal::Run::ended(const std::string& reason) {
    if (!startReported) {
        finishStart(PortalStatus::failed, reason);
        return;
    }
    if (!sessionOpen) {
        return;
    }
    dropSession();
    sessionHandle.clear();
    // The caller says what the end means for the trigger, in one line.
    notify(handlers.onClosed, reason);
}

void GlobalShortcutsPortal::Run::shutdown() {
    if (closing) {
        return;
    }
    closing = true;
    unsubscribe(ownerSubscription);
    clearRequest();
    if (!sessionHandle.empty() && bus) {
        send(sessionHandle.c_str(), sessionInterface, "Close", nullptr);
    }
    dropSession();
    removeTimeout(connectTimeout);
    g_cancellable_cancel(cancellable);
    // Closing writes what is queued (the Close above) first.
    if (bus && !g_dbus_connection_is_closed(bus)) {
        ++pendingCalls;
        g_dbus_connection_close(
            bus, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                g_dbus_connection_close_finish(G_DBUS_CONNECTION(source), result, nullptr);
                static_cast<Run*>(data)->answered();
            },
            this);
    }
    shutdownTimeout = addTimeout(shutdownTimeoutMs, [](gpointer data) -> gboolean {
        auto* run = static_cast<Run*>(data);
        run->shutdownTimeout = 0;
        g_main_loop_quit(run->loop);
        return G_SOURCE_REMOVE;
    });
    quitWhenDrained();
}

void GlobalShortcutsPortal::Run::quitWhenDrained() {
    if (closing && pendingCalls == 0) {
        g_main_loop_quit(loop);
    }
}

}  // namespace vurin
