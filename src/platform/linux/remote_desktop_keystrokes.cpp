#include "platform/linux/remote_desktop_keystrokes.h"

#include <gio/gio.h>
#include <linux/input-event-codes.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/evdev_chords.h"
#include "platform/linux/portal_common.h"
#include "platform/linux/text_keysyms.h"
#include "support/log.h"

namespace vurin {

namespace {

constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr unsigned kKeyboard = 1;
constexpr int kCallTimeoutMs = 5000;
// CreateSession and SelectDevices ask nobody; Start waits for the user.
constexpr guint kRequestTimeoutS = 30;
constexpr guint kStartTimeoutS = 300;
// The portal takes a call's events within this time (and a little more per event), or the call
// failed.
constexpr auto kEventsWait = std::chrono::seconds(5);
constexpr auto kEventsWaitPerEvent = std::chrono::milliseconds(5);
constexpr guint kShutdownWaitMs = 500;

}  // namespace

struct RemoteDesktopKeystrokes::Event {
    bool keysym;  // else an evdev key code
    std::int32_t value;
    bool pressed;
};

struct RemoteDesktopKeystrokes::Impl {
    enum class Step { none, createSession, selectDevices, start };

    // The answers to one call's events.
    struct Batch {
        std::vector<Event> events;  // only on the portal thread
        std::size_t next = 0;
        bool done = false;       // under Impl::lock
        bool cancelled = false;  // under Impl::lock: the caller gave up waiting
        std::string error;
    };
    struct CallData {
        Impl* impl;
        std::shared_ptr<Batch> batch;
    };

    std::string address;
    mutable std::mutex lock;
    std::condition_variable changed;
    State state = State::idle;  // under lock

    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::thread thread;

    // Only on the portal thread.
    GCancellable* cancellable = g_cancellable_new();
    GDBusConnection* bus = nullptr;
    std::string session;
    std::string requestPath;
    Step step = Step::none;
    guint responseSubscription = 0;
    guint closedSubscription = 0;
    guint requestTimeout = 0;
    unsigned tokens = 0;
    int pendingCalls = 0;

    ~Impl() {
        if (thread.joinable()) {
            portal::attachIdle(context, [this] { shutdown(); });
            thread.join();
        }
        g_object_unref(cancellable);
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }

    void setState(State next) {
        {
            std::lock_guard guard(lock);
            state = next;
        }
        changed.notify_all();
    }

    // ---------------------------------------------------------------------------------------
    // Start: connect, CreateSession, SelectDevices (keyboard), Start.

    void begin() {
        if (!bus) {
            const std::string where = address.empty() ? portal::sessionBusAddress() : address;
            GError* error = nullptr;
            bus = where.empty() ? nullptr : portal::connectPrivately(where, &error);
            if (!bus) {
                fail(where.empty() ? "没有会话总线(DBUS_SESSION_BUS_ADDRESS 未设置)"
                                   : "无法连接会话总线:" + portal::messageOf(error));
                g_clear_error(&error);
                return;
            }
        }
        request(Step::createSession, "CreateSession");
    }

    void request(Step what, const char* method) {
        const std::string token = "vurin_rd" + std::to_string(++tokens);
        step = what;
        requestPath = portal::requestPath(bus, token);
        responseSubscription = g_dbus_connection_signal_subscribe(
            bus, portal::kName, portal::kRequestInterface, "Response", requestPath.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters,
               gpointer data) { static_cast<Impl*>(data)->responded(parameters); },
            this, nullptr);
        GSource* timeout =
            g_timeout_source_new_seconds(what == Step::start ? kStartTimeoutS : kRequestTimeoutS);
        g_source_set_callback(
            timeout,
            [](gpointer data) -> gboolean {
                auto* impl = static_cast<Impl*>(data);
                impl->requestTimeout = 0;
                impl->fail(std::string("桌面门户没有回应 ") + impl->stepName());
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        requestTimeout = g_source_attach(timeout, context);
        g_source_unref(timeout);
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        GVariant* parameters = nullptr;
        if (what == Step::createSession) {
            g_variant_builder_add(&options, "{sv}", "session_handle_token",
                                  g_variant_new_string(("vurin_rd_session" + token).c_str()));
            parameters = g_variant_new("(a{sv})", &options);
        } else if (what == Step::selectDevices) {
            g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kKeyboard));
            parameters = g_variant_new("(oa{sv})", session.c_str(), &options);
        } else {
            parameters = g_variant_new("(osa{sv})", session.c_str(), "", &options);
        }
        ++pendingCalls;
        g_dbus_connection_call(
            bus, portal::kName, portal::kPath, kRemoteDesktop, method, parameters,
            G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* impl = static_cast<Impl*>(data);
                GError* error = nullptr;
                GVariant* reply =
                    g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
                --impl->pendingCalls;
                if (!reply && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                    impl->fail(std::string("调用 ") + impl->stepName() +
                               " 失败:" + portal::messageOf(error));
                }
                g_clear_error(&error);
                if (reply) {
                    g_variant_unref(reply);
                }
            },
            this);
    }

    const char* stepName() const {
        switch (step) {
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

    void clearRequest() {
        if (responseSubscription) {
            g_dbus_connection_signal_unsubscribe(bus, responseSubscription);
            responseSubscription = 0;
        }
        if (requestTimeout) {
            if (GSource* timeout = g_main_context_find_source_by_id(context, requestTimeout)) {
                g_source_destroy(timeout);
            }
            requestTimeout = 0;
        }
        step = Step::none;
    }

    void responded(GVariant* parameters) {
        if (step == Step::none || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
            return;
        }
        guint32 response = 2;
        GVariant* results = nullptr;
        g_variant_get(parameters, "(u@a{sv})", &response, &results);
        const Step what = step;
        const std::string name = stepName();
        clearRequest();
        if (response != 0 && what == Step::start) {
            log(std::string("❌ RemoteDesktop 门户:") +
                (response == 1 ? "用户拒绝了键盘控制请求" : "桌面拒绝了键盘控制请求(响应 2)") +
                ",本次运行不再合成按键;请重启 Vurin 后在桌面的提示中允许");
            closeSession();
            setState(State::denied);
        } else if (response != 0) {
            fail("桌面门户拒绝了 " + name + "(响应 " + std::to_string(response) + ")");
        } else if (what == Step::createSession) {
            session = portal::sessionHandleOf(results);
            if (session.empty()) {
                fail("CreateSession 的回应里没有会话");
            } else {
                watchSession();
                request(Step::selectDevices, "SelectDevices");
            }
        } else if (what == Step::selectDevices) {
            request(Step::start, "Start");
        } else {
            guint32 devices = 0;
            g_variant_lookup(results, "devices", "u", &devices);
            if (devices & kKeyboard) {
                setState(State::started);
            } else {
                fail("桌面没有给出键盘(devices=" + std::to_string(devices) + ")");
            }
        }
        g_variant_unref(results);
    }

    void watchSession() {
        closedSubscription = g_dbus_connection_signal_subscribe(
            bus, portal::kName, portal::kSessionInterface, "Closed", session.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               gpointer data) {
                auto* impl = static_cast<Impl*>(data);
                log("⚠️ RemoteDesktop "
                    "门户:桌面结束了键盘控制会话,下次需要时重新请求");
                impl->dropSession();
                impl->setState(State::idle);
            },
            this, nullptr);
    }

    void dropSession() {
        if (closedSubscription) {
            g_dbus_connection_signal_unsubscribe(bus, closedSubscription);
            closedSubscription = 0;
        }
        session.clear();
    }

    void closeSession() {
        if (!session.empty()) {
            g_dbus_connection_call(bus, portal::kName, session.c_str(), portal::kSessionInterface,
                                   "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                                   nullptr, nullptr);
        }
        dropSession();
    }

    void fail(const std::string& reason) {
        log("❌ RemoteDesktop 门户:" + reason + ",无法合成按键");
        clearRequest();
        closeSession();
        setState(State::failed);
    }

    // ---------------------------------------------------------------------------------------
    // Events. xdg-desktop-portal handles method calls on a pool of threads, so calls sent
    // together reach the desktop in any order (measured: a letter arrived a dozen places
    // late). Each event therefore goes once the portal has answered the one before (which it
    // does as soon as it has passed it on), with nothing else in between.

    void sendEvents(std::vector<Event> events, const std::shared_ptr<Batch>& batch) {
        batch->events = std::move(events);
        sendNext(batch);
    }

    void sendNext(const std::shared_ptr<Batch>& batch) {
        if (session.empty()) {
            finishBatch(batch, "会话已结束");
            return;
        }
        {
            // Given up on: no more keys go down (they would land after the caller was told
            // nothing arrived), but the ones down come up, so no modifier stays held.
            const std::lock_guard guard(lock);
            while (batch->cancelled && batch->next < batch->events.size() &&
                   batch->events[batch->next].pressed) {
                ++batch->next;
            }
        }
        if (batch->next == batch->events.size()) {
            finishBatch(batch, "");
            return;
        }
        const Event& event = batch->events[batch->next++];
        ++pendingCalls;
        g_dbus_connection_call(
            bus, portal::kName, portal::kPath, kRemoteDesktop,
            event.keysym ? "NotifyKeyboardKeysym" : "NotifyKeyboardKeycode",
            g_variant_new("(oa{sv}iu)", session.c_str(), nullptr, event.value,
                          event.pressed ? 1U : 0U),
            G_VARIANT_TYPE_UNIT, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<CallData> call(static_cast<CallData*>(data));
                GError* error = nullptr;
                GVariant* reply =
                    g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
                --call->impl->pendingCalls;
                if (reply) {
                    g_variant_unref(reply);
                    call->impl->sendNext(call->batch);
                } else {
                    call->impl->finishBatch(call->batch, portal::messageOf(error));
                    g_error_free(error);
                }
            },
            new CallData{this, batch});
    }

    void finishBatch(const std::shared_ptr<Batch>& batch, const std::string& error) {
        {
            std::lock_guard guard(lock);
            batch->error = error;
            batch->done = true;
        }
        changed.notify_all();
    }

    // ---------------------------------------------------------------------------------------

    void shutdown() {
        clearRequest();
        closeSession();
        g_cancellable_cancel(cancellable);
        // The Close above is written before the connection closes; cancelled calls come back.
        const gint64 deadline = g_get_monotonic_time() + kShutdownWaitMs * 1000;
        while (pendingCalls > 0 && g_get_monotonic_time() < deadline) {
            g_main_context_iteration(context, FALSE);
        }
        if (bus) {
            g_dbus_connection_flush_sync(bus, nullptr, nullptr);
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
            bus = nullptr;
        }
        g_main_loop_quit(loop);
    }
};

RemoteDesktopKeystrokes::RemoteDesktopKeystrokes(std::string busAddress)
    : impl_(std::make_unique<Impl>()) {
    impl_->address = std::move(busAddress);
}

RemoteDesktopKeystrokes::~RemoteDesktopKeystrokes() = default;

RemoteDesktopKeystrokes::State RemoteDesktopKeystrokes::state() const {
    std::lock_guard guard(impl_->lock);
    return impl_->state;
}

void RemoteDesktopKeystrokes::prepare() {
    Impl& impl = *impl_;
    {
        std::lock_guard guard(impl.lock);
        if (impl.state != State::idle && impl.state != State::failed) {
            return;
        }
        impl.state = State::starting;
        if (!impl.thread.joinable()) {
            impl.thread = std::thread([&impl] {
                g_main_context_push_thread_default(impl.context);
                g_main_loop_run(impl.loop);
                g_main_context_pop_thread_default(impl.context);
            });
        }
    }
    portal::attachIdle(impl.context, [&impl] { impl.begin(); });
}

bool RemoteDesktopKeystrokes::send(std::vector<Event> events) {
    prepare();
    Impl& impl = *impl_;
    std::unique_lock guard(impl.lock);
    if (!impl.changed.wait_for(guard, std::chrono::seconds(kConsentWaitSeconds),
                               [&] { return impl.state != State::starting; })) {
        log("❌ RemoteDesktop 门户:" + std::to_string(kConsentWaitSeconds) +
            " 秒内没有得到桌面的许可,按键未发送");
        return false;
    }
    if (impl.state != State::started) {
        return false;
    }
    auto batch = std::make_shared<Impl::Batch>();
    const auto wait = kEventsWait + kEventsWaitPerEvent * events.size();
    guard.unlock();
    portal::attachIdle(impl.context, [&impl, batch, events = std::move(events)]() mutable {
        impl.sendEvents(std::move(events), batch);
    });
    guard.lock();
    if (!impl.changed.wait_for(guard, wait, [&] { return batch->done; })) {
        batch->cancelled = true;
        log("❌ RemoteDesktop 门户:桌面门户没有及时接收按键事件,其余按键不再发送");
        return false;
    }
    if (!batch->error.empty()) {
        log("❌ RemoteDesktop 门户:按键事件被拒绝:" + batch->error);
        return false;
    }
    return true;
}

bool RemoteDesktopKeystrokes::post(Keystroke keystroke) {
    std::vector<Event> events;
    for (const auto& [code, down] : evdevKeyChanges(keystroke)) {
        events.push_back({false, code, down});
    }
    return send(std::move(events));
}

bool RemoteDesktopKeystrokes::typeText(const std::string& text) {
    const std::optional<std::vector<std::uint32_t>> keysyms = keysymsForText(text);
    if (!keysyms) {
        log("❌ RemoteDesktop 门户:文本含无法按键输入的字符(控制字符或无效 UTF-8),未输入");
        return false;
    }
    std::vector<Event> events;
    for (std::uint32_t keysym : *keysyms) {
        events.push_back({true, static_cast<std::int32_t>(keysym), true});
        events.push_back({true, static_cast<std::int32_t>(keysym), false});
    }
    return send(std::move(events));
}

}  // namespace vurin
