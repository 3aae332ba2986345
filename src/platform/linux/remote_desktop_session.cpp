#include "platform/linux/remote_desktop_session.h"

#include <utility>

#include "platform/linux/portal_common.h"
#include "support/log.h"

namespace vurin {

namespace {

constexpr unsigned kKeyboard = 1;
constexpr int kCallTimeoutMs = 5000;
// Starting the portal through D-Bus activation takes a few seconds on a busy login.
constexpr int kProbeTimeoutMs = 10000;
// CreateSession and SelectDevices ask nobody; Start waits for the user.
constexpr guint kRequestTimeoutS = 30;
constexpr guint kStartTimeoutS = 300;

// Errors that say the desktop has no such thing, as opposed to one that did not answer.
bool saysAbsent(GError* error) {
    const std::string name = portal::remoteErrorName(error);
    return name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           name == "org.freedesktop.DBus.Error.UnknownInterface" ||
           name == "org.freedesktop.DBus.Error.UnknownProperty" ||
           name == "org.freedesktop.DBus.Error.InvalidArgs";
}

}  // namespace

RemoteDesktopSession::RemoteDesktopSession(GMainContext* context, std::string address,
                                           Callbacks callbacks)
    : context_(context), address_(std::move(address)), callbacks_(std::move(callbacks)) {}

RemoteDesktopSession::~RemoteDesktopSession() {
    g_object_unref(cancellable_);
}

bool RemoteDesktopSession::connect() {
    if (bus_) {
        return true;
    }
    const std::string where = address_.empty() ? portal::sessionBusAddress() : address_;
    GError* error = nullptr;
    bus_ = where.empty() ? nullptr : portal::connectPrivately(where, &error);
    if (!bus_) {
        fail(where.empty() ? "没有会话总线(DBUS_SESSION_BUS_ADDRESS 未设置)"
                           : "无法连接会话总线:" + portal::messageOf(error));
        g_clear_error(&error);
        return false;
    }
    closedHandler_ = g_signal_connect(
        bus_, "closed", G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer data) {
            auto* self = static_cast<RemoteDesktopSession*>(data);
            self->lost("会话总线连接断开了");
            self->dropBus();
        }),
        this);
    watchPortal();
    return true;
}

// The session lives in the portal's process: when another process takes the portal's name (a
// restart) or nobody holds it, the session is gone without a Closed signal.
void RemoteDesktopSession::watchPortal() {
    ownerSubscription_ = g_dbus_connection_signal_subscribe(
        bus_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", portal::kName, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer data) {
            const gchar* owner = nullptr;
            g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &owner);
            static_cast<RemoteDesktopSession*>(data)->portalOwnerChanged(owner ? owner : "");
        },
        this, nullptr);
    g_dbus_connection_call(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetNameOwner", g_variant_new("(s)", portal::kName), G_VARIANT_TYPE("(s)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            if (reply) {
                const gchar* owner = nullptr;
                g_variant_get(reply, "(&s)", &owner);
                // Only the first answer counts: a change signalled meanwhile is newer.
                auto* self = static_cast<RemoteDesktopSession*>(data);
                if (self->portalOwner_.empty() && owner) {
                    self->portalOwner_ = owner;
                }
                g_variant_unref(reply);
            }
        },
        this);
}

void RemoteDesktopSession::portalOwnerChanged(const std::string& owner) {
    if (owner == portalOwner_) {
        return;
    }
    const bool had = !portalOwner_.empty();
    portalOwner_ = owner;
    if (had) {
        lost(owner.empty() ? "桌面门户退出了" : "桌面门户重新启动了");
    }
    if (!owner.empty()) {
        probe();
    }
}

void RemoteDesktopSession::probe() {
    if (!connect()) {
        callbacks_.probed(std::nullopt);
        return;
    }
    g_dbus_connection_call(
        bus_, portal::kName, portal::kPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kInterface, "AvailableDeviceTypes"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, kProbeTimeoutMs, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                g_error_free(error);
                return;
            }
            std::optional<bool> keyboard;
            if (reply) {
                GVariant* value = nullptr;
                g_variant_get(reply, "(v)", &value);
                keyboard = g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32) &&
                           (g_variant_get_uint32(value) & kKeyboard) != 0;
                g_variant_unref(value);
                g_variant_unref(reply);
            } else if (saysAbsent(error)) {
                keyboard = false;
            }
            g_clear_error(&error);
            static_cast<RemoteDesktopSession*>(data)->callbacks_.probed(keyboard);
        },
        this);
}

void RemoteDesktopSession::start() {
    if (phase_ == Phase::starting || phase_ == Phase::started || phase_ == Phase::denied) {
        return;
    }
    setPhase(Phase::starting);
    if (connect()) {
        request(Step::createSession, "CreateSession");
    }
}

void RemoteDesktopSession::request(Step what, const char* method) {
    const std::string token = "vurin_rd" + std::to_string(++tokens_);
    step_ = what;
    requestPath_ = portal::requestPath(bus_, token);
    responseSubscription_ = g_dbus_connection_signal_subscribe(
        bus_, portal::kName, portal::kRequestInterface, "Response", requestPath_.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters,
           gpointer data) { static_cast<RemoteDesktopSession*>(data)->responded(parameters); },
        this, nullptr);
    GSource* timeout =
        g_timeout_source_new_seconds(what == Step::start ? kStartTimeoutS : kRequestTimeoutS);
    g_source_set_callback(
        timeout,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<RemoteDesktopSession*>(data);
            self->requestTimeout_ = 0;
            self->fail(std::string("桌面门户没有回应 ") + self->stepName());
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
    requestTimeout_ = g_source_attach(timeout, context_);
    g_source_unref(timeout);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    GVariant* parameters = nullptr;
    if (what == Step::createSession) {
        g_variant_builder_add(&options, "{sv}", "session_handle_token",
                              g_variant_new_string(("vurin_rd_session" + token).c_str()));
        parameters = g_variant_new("(a{sv})", &options);
    } else if (what == Step::selectDevices) {
        g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kKeyboard));
        parameters = g_variant_new("(oa{sv})", session_.c_str(), &options);
    } else {
        parameters = g_variant_new("(osa{sv})", session_.c_str(), "", &options);
    }
    g_dbus_connection_call(
        bus_, portal::kName, portal::kPath, kInterface, method, parameters, G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (!reply && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                auto* self = static_cast<RemoteDesktopSession*>(data);
                self->fail(std::string("调用 ") + self->stepName() +
                           " 失败:" + portal::messageOf(error));
            }
            g_clear_error(&error);
            if (reply) {
                g_variant_unref(reply);
            }
        },
        this);
}

const char* RemoteDesktopSession::stepName() const {
    switch (step_) {
        case Step::createSession:
            return "CreateSession";
        case Step::selectDevices:
            return "SelectDevices";
        case Step::start:
            return "Start";
        case Step::none:
            break;
    }
    return "";
}

void RemoteDesktopSession::clearRequest() {
    if (responseSubscription_) {
        g_dbus_connection_signal_unsubscribe(bus_, responseSubscription_);
        responseSubscription_ = 0;
    }
    if (requestTimeout_) {
        if (GSource* timeout = g_main_context_find_source_by_id(context_, requestTimeout_)) {
            g_source_destroy(timeout);
        }
        requestTimeout_ = 0;
    }
    step_ = Step::none;
}

void RemoteDesktopSession::responded(GVariant* parameters) {
    if (step_ == Step::none || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
        return;
    }
    guint32 response = 2;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    const Step what = step_;
    const std::string name = stepName();
    clearRequest();
    if (response != 0 && what == Step::start) {
        log(std::string("❌ RemoteDesktop 门户:") +
            (response == 1 ? "用户拒绝了键盘控制请求" : "桌面拒绝了键盘控制请求(响应 2)") +
            ",本次运行不再合成按键;请重启 Vurin 后在桌面的提示中允许");
        closeSession();
        setPhase(Phase::denied);
    } else if (response != 0) {
        fail("桌面门户拒绝了 " + name + "(响应 " + std::to_string(response) + ")");
    } else if (what == Step::createSession) {
        session_ = portal::sessionHandleOf(results);
        if (session_.empty()) {
            fail("CreateSession 的回应里没有会话");
        } else {
            watchSession();
            request(Step::selectDevices, "SelectDevices");
        }
    } else if (what == Step::selectDevices) {
        log("⌨️ RemoteDesktop 门户:桌面正在询问是否允许 Vurin 控制键盘"
            "(GNOME:先勾选“允许远程交互”,再点“共享”)");
        request(Step::start, "Start");
    } else {
        guint32 devices = 0;
        g_variant_lookup(results, "devices", "u", &devices);
        if (devices & kKeyboard) {
            setPhase(Phase::started);
        } else {
            fail("桌面没有给出键盘(devices=" + std::to_string(devices) + ")");
        }
    }
    g_variant_unref(results);
}

void RemoteDesktopSession::watchSession() {
    closedSubscription_ = g_dbus_connection_signal_subscribe(
        bus_, portal::kName, portal::kSessionInterface, "Closed", session_.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
           gpointer data) {
            static_cast<RemoteDesktopSession*>(data)->lost("桌面结束了键盘控制会话");
        },
        this, nullptr);
}

void RemoteDesktopSession::dropSession() {
    if (closedSubscription_) {
        g_dbus_connection_signal_unsubscribe(bus_, closedSubscription_);
        closedSubscription_ = 0;
    }
    session_.clear();
}

void RemoteDesktopSession::closeSession() {
    if (!session_.empty() && bus_) {
        g_dbus_connection_call(bus_, portal::kName, session_.c_str(), portal::kSessionInterface,
                               "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                               nullptr, nullptr);
    }
    dropSession();
}

// The session ended without our asking: the next need starts another (a declined request stays
// declined).
void RemoteDesktopSession::lost(const std::string& why) {
    if (phase_ != Phase::starting && phase_ != Phase::started) {
        return;
    }
    log("⚠️ RemoteDesktop 门户:" + why + ",键盘控制会话已结束;下次需要时重新请求");
    clearRequest();
    dropSession();
    setPhase(Phase::idle);
}

void RemoteDesktopSession::fail(const std::string& reason) {
    log("❌ RemoteDesktop 门户:" + reason + ",无法合成按键");
    clearRequest();
    closeSession();
    setPhase(Phase::failed);
}

void RemoteDesktopSession::setPhase(Phase next) {
    if (phase_ == next) {
        return;
    }
    phase_ = next;
    callbacks_.changed(next);
}

void RemoteDesktopSession::dropBus() {
    if (!bus_) {
        return;
    }
    clearRequest();
    dropSession();
    if (ownerSubscription_) {
        g_dbus_connection_signal_unsubscribe(bus_, ownerSubscription_);
        ownerSubscription_ = 0;
    }
    if (closedHandler_) {
        g_signal_handler_disconnect(bus_, closedHandler_);
        closedHandler_ = 0;
    }
    portalOwner_.clear();
    g_object_unref(bus_);
    bus_ = nullptr;
}

void RemoteDesktopSession::shutdown() {
    clearRequest();
    closeSession();
    g_cancellable_cancel(cancellable_);
    if (bus_) {
        // The Close above is written before the connection closes.
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
        if (closedHandler_) {
            g_signal_handler_disconnect(bus_, closedHandler_);
            closedHandler_ = 0;
        }
        g_dbus_connection_close_sync(bus_, nullptr, nullptr);
    }
    dropBus();
}

}  // namespace vurin
