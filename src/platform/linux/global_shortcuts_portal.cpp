#include "platform/linux/global_shortcuts_portal.h"

#include <gio/gio.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/portal_common.h"
#include "support/log.h"

namespace vurin {

namespace {

using portal::attachIdle;
using portal::messageOf;
using portal::remoteErrorName;
using portal::sessionBusAddress;

constexpr const char* portalName = portal::kName;
constexpr const char* portalPath = portal::kPath;
constexpr const char* shortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* requestInterface = portal::kRequestInterface;
constexpr const char* sessionInterface = portal::kSessionInterface;

// A bus that does not let us in within this time counts as no bus.
constexpr guint connectTimeoutMs = 5000;
// A method call (not its Response) that takes longer counts as failed.
constexpr int callTimeoutMs = 5000;
// CreateSession asks nobody; BindShortcuts may show the user a dialog.
constexpr guint createSessionTimeoutS = 30;
constexpr guint bindTimeoutS = 120;
// Stopping waits at most this long for the connection to close and cancelled calls to return.
constexpr guint shutdownTimeoutMs = 500;

// The thread that runs a portal's loop, so that calls from its own handlers are recognised.
thread_local const void* portalThreadOf = nullptr;

GlobalShortcutsBinding bindingIn(GVariant* shortcuts) {
    GlobalShortcutsBinding binding;
    if (!shortcuts || !g_variant_is_of_type(shortcuts, G_VARIANT_TYPE("a(sa{sv})"))) {
        return binding;
    }
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const gchar* id = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
        if (std::string_view(id) == GlobalShortcutsPortal::shortcutId) {
            binding.bound = true;
            const gchar* trigger = nullptr;
            if (g_variant_lookup(properties, "trigger_description", "&s", &trigger)) {
                binding.triggerDescription = trigger;
            }
        }
        g_variant_unref(properties);
    }
    return binding;
}

}  // namespace

struct GlobalShortcutsPortal::Impl {
    std::string address;
    std::mutex lock;
    // Under `lock`: the running loop's context (one reference) and its thread.
    GMainContext* context = nullptr;
    std::thread thread;
    // Only on the portal thread.
    Run* run = nullptr;
    // Set by stop(): no handler starts once it is.
    std::atomic<bool> stopped{true};
    std::atomic<unsigned> version{0};
    std::atomic<bool> sessionOpen{false};

    // Runs `task` on the portal thread, if one is running.
    void post(std::function<void()> task) {
        GMainContext* target = nullptr;
        {
            std::lock_guard guard(lock);
            target = context ? g_main_context_ref(context) : nullptr;
        }
        if (target) {
            attachIdle(target, std::move(task));
            g_main_context_unref(target);
        }
    }
};

// One start(): everything here lives on the portal thread.
struct GlobalShortcutsPortal::Run {
    enum class Step { none, createSession, bindShortcuts };

    Impl& impl;
    GMainContext* context;
    GMainLoop* loop;
    GCancellable* cancellable = g_cancellable_new();
    GDBusConnection* bus = nullptr;
    gulong busClosedHandler = 0;
    std::string preferredTrigger;
    std::string description;
    Handlers handlers;

    unsigned version = 0;
    std::string sessionHandle;
    bool startReported = false;
    bool sessionOpen = false;
    bool closing = false;
    bool connectTimedOut = false;
    int pendingCalls = 0;
    unsigned tokens = 0;
    guint connectTimeout = 0;
    guint shutdownTimeout = 0;
    std::vector<guint> subscriptions;

    // The one request waiting for its Response, and the requests whose call is unanswered.
    Step step = Step::none;
    std::deque<Step> sentSteps;
    std::string requestPath;
    std::string returnedPath;
    guint responseSubscription = 0;
    guint returnedSubscription = 0;
    guint requestTimeout = 0;

    Run(Impl& owner, GMainContext* loopContext, std::string trigger, std::string text,
        Handlers callbacks)
        : impl(owner),
          context(loopContext),
          loop(g_main_loop_new(loopContext, FALSE)),
          preferredTrigger(std::move(trigger)),
          description(std::move(text)),
          handlers(std::move(callbacks)) {}

    ~Run() {
        removeTimeout(connectTimeout);
        removeTimeout(shutdownTimeout);
        removeTimeout(requestTimeout);
        if (bus) {
            if (busClosedHandler) {
                g_signal_handler_disconnect(bus, busClosedHandler);
            }
            g_object_unref(bus);
        }
        g_object_unref(cancellable);
        g_main_loop_unref(loop);
    }

    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // -----------------------------------------------------------------------------------------
    // Plumbing

    template <typename Handler, typename... Args>
    void notify(const Handler& handler, const Args&... args) {
        if (handler && !impl.stopped) {
            handler(args...);
        }
    }

    guint addTimeout(guint ms, GSourceFunc function) {
        GSource* source = g_timeout_source_new(ms);
        g_source_set_callback(source, function, this, nullptr);
        const guint id = g_source_attach(source, context);
        g_source_unref(source);
        return id;
    }

    void removeTimeout(guint& id) {
        if (id) {
            if (GSource* source = g_main_context_find_source_by_id(context, id)) {
                g_source_destroy(source);
            }
            id = 0;
        }
    }

    guint subscribe(const char* sender, const char* interface, const char* member, const char* path,
                    const char* arg0, GDBusSignalCallback callback) {
        return g_dbus_connection_signal_subscribe(bus, sender, interface, member, path, arg0,
                                                  G_DBUS_SIGNAL_FLAGS_NONE, callback, this,
                                                  nullptr);
    }

    void unsubscribe(guint& id) {
        if (id) {
            g_dbus_connection_signal_unsubscribe(bus, id);
            id = 0;
        }
    }

    // A call whose answer comes back on this thread (counted, so that stopping can wait for it).
    // Only the first call may start the portal: a desktop starts it on demand, and Vurin often
    // starts at log-in before anything else has asked for it.
    void call(const char* path, const char* interface, const char* method, GVariant* parameters,
              const GVariantType* replyType, GAsyncReadyCallback callback,
              GDBusCallFlags flags = G_DBUS_CALL_FLAGS_NO_AUTO_START) {
        ++pendingCalls;
        g_dbus_connection_call(bus, portalName, path, interface, method, parameters, replyType,
                               flags, callTimeoutMs, cancellable, callback, this);
    }

    // A call nobody waits for (sent with "no reply expected").
    void send(const char* path, const char* interface, const char* method, GVariant* parameters) {
        g_dbus_connection_call(bus, portalName, path, interface, method, parameters, nullptr,
                               G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
    }

    // Ends one counted call; false when the run is stopping and the answer is to be ignored.
    // The end of a counted call: `handler` gets the reply or the error, unless the run is
    // stopping.
    template <void (Run::*handler)(GVariant* reply, GError* error)>
    static void answeredBy(GObject* source, GAsyncResult* result, gpointer data) {
        auto* run = static_cast<Run*>(data);
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (run->answered()) {
            (run->*handler)(reply, error);
        }
        g_clear_error(&error);
        if (reply) {
            g_variant_unref(reply);
        }
    }

    bool answered() {
        --pendingCalls;
        if (closing) {
            quitWhenDrained();
            return false;
        }
        return true;
    }

    // -----------------------------------------------------------------------------------------
    // Start: connect, read the version, CreateSession, BindShortcuts.

    void begin() {
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

    void connected(GError* error) {
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
        subscriptions.push_back(
            subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                      "/org/freedesktop/DBus", portalName,
                      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
                          auto* run = static_cast<Run*>(data);
                          const gchar* newOwner = nullptr;
                          g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &newOwner);
                          if (!run->closing && newOwner && !*newOwner) {
                              run->ended("桌面门户已离开会话总线");
                          }
                      }));
        call(portalPath, "org.freedesktop.DBus.Properties", "Get",
             g_variant_new("(ss)", shortcutsInterface, "version"), G_VARIANT_TYPE("(v)"),
             answeredBy<&Run::versionRead>, G_DBUS_CALL_FLAGS_NONE);
    }

    void versionRead(GVariant* reply, GError* error) {
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

    // A fresh handle_token, and the Response subscribed on the handle it predicts.
    std::string expectResponse(Step what, guint timeoutS) {
        const std::string token = "vurin" + std::to_string(++tokens);
        step = what;
        requestPath = portal::requestPath(bus, token);
        responseSubscription = subscribeResponse(requestPath);
        requestTimeout = addTimeout(timeoutS * 1000, [](gpointer data) -> gboolean {
            auto* run = static_cast<Run*>(data);
            run->requestTimeout = 0;
            run->requestTimedOut();
            return G_SOURCE_REMOVE;
        });
        return token;
    }

    guint subscribeResponse(const std::string& path) {
        return subscribe(portalName, requestInterface, "Response", path.c_str(), nullptr,
                         [](GDBusConnection*, const gchar*, const gchar* path, const gchar*,
                            const gchar*, GVariant* parameters, gpointer data) {
                             static_cast<Run*>(data)->responded(path, parameters);
                         });
    }

    const char* stepName() const {
        return step == Step::createSession ? "CreateSession" : "BindShortcuts";
    }

    void clearRequest() {
        unsubscribe(responseSubscription);
        unsubscribe(returnedSubscription);
        removeTimeout(requestTimeout);
        step = Step::none;
        requestPath.clear();
        returnedPath.clear();
    }

    void requestSent(GVariant* reply, GError* error) {
        const Step sent = sentSteps.front();
        sentSteps.pop_front();
        if (sent != step) {
            return;
        }
        if (!reply) {
            const std::string reason =
                std::string("调用 ") + stepName() + " 失败:" + messageOf(error);
            clearRequest();
            finishStart(PortalStatus::failed, reason);
            return;
        }
        const gchar* handle = nullptr;
        g_variant_get(reply, "(&o)", &handle);
        if (handle != requestPath && returnedPath.empty()) {
            returnedPath = handle;
            returnedSubscription = subscribeResponse(returnedPath);
        }
    }

    void requestTimedOut() {
        const guint waited = step == Step::createSession ? createSessionTimeoutS : bindTimeoutS;
        const std::string reason =
            "桌面门户 " + std::to_string(waited) + " 秒内没有回应 " + stepName();
        send(requestPath.c_str(), requestInterface, "Close", nullptr);
        clearRequest();
        finishStart(PortalStatus::failed, reason);
    }

    void responded(const gchar* path, GVariant* parameters) {
        if (closing || step == Step::none || (path != requestPath && path != returnedPath)) {
            return;
        }
        guint32 response = 2;
        GVariant* results = nullptr;
        g_variant_get(parameters, "(u@a{sv})", &response, &results);
        const Step what = step;
        const std::string name = stepName();
        clearRequest();
        if (response != 0) {
            finishStart(PortalStatus::failed, response == 1 ? "用户取消了 " + name
                                                            : "桌面门户拒绝了 " + name + "(响应 " +
                                                                  std::to_string(response) + ")");
        } else if (what == Step::createSession) {
            sessionCreated(results);
        } else {
            shortcutsBound(results);
        }
        g_variant_unref(results);
    }

    void sendRequest(const char* method, GVariant* parameters) {
        sentSteps.push_back(step);
        call(portalPath, shortcutsInterface, method, parameters, G_VARIANT_TYPE("(o)"),
             answeredBy<&Run::requestSent>);
    }

    void createSession() {
        const std::string token = expectResponse(Step::createSession, createSessionTimeoutS);
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        g_variant_builder_add(&options, "{sv}", "session_handle_token",
                              g_variant_new_string(("vurin_session" + token).c_str()));
        sendRequest("CreateSession", g_variant_new("(a{sv})", &options));
    }

    void sessionCreated(GVariant* results) {
        sessionHandle = portal::sessionHandleOf(results);
        if (sessionHandle.empty()) {
            finishStart(PortalStatus::failed, "CreateSession 的回应里没有会话");
            return;
        }
        subscribeSession();
        const std::string token = expectResponse(Step::bindShortcuts, bindTimeoutS);
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "description",
                              g_variant_new_string(description.c_str()));
        g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                              g_variant_new_string(preferredTrigger.c_str()));
        GVariantBuilder shortcuts;
        g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
        g_variant_builder_add(&shortcuts, "(sa{sv})", shortcutId, &properties);
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        sendRequest("BindShortcuts", g_variant_new("(oa(sa{sv})sa{sv})", sessionHandle.c_str(),
                                                   &shortcuts, "", &options));
    }

    void shortcutsBound(GVariant* results) {
        GVariant* shortcuts = g_variant_lookup_value(results, "shortcuts", nullptr);
        const GlobalShortcutsBinding binding = bindingIn(shortcuts);
        if (shortcuts) {
            g_variant_unref(shortcuts);
        }
        sessionOpen = true;
        impl.sessionOpen = true;
        PortalStartResult result{binding.bound ? PortalStatus::bound : PortalStatus::notBound,
                                 binding, binding.bound ? "" : "桌面没有为听写快捷键绑定按键",
                                 version};
        startReported = true;
        notify(handlers.onStarted, result);
    }

    // -----------------------------------------------------------------------------------------
    // The open session

    void subscribeSession() {
        subscriptions.push_back(subscribe(portalName, sessionInterface, "Closed",
                                          sessionHandle.c_str(), nullptr,
                                          [](GDBusConnection*, const gchar*, const gchar*,
                                             const gchar*, const gchar*, GVariant*, gpointer data) {
                                              auto* run = static_cast<Run*>(data);
                                              if (!run->closing) {
                                                  run->ended("桌面关闭了快捷键会话");
                                              }
                                          }));
        for (const char* member : {"Activated", "Deactivated"}) {
            subscriptions.push_back(subscribe(
                portalName, shortcutsInterface, member, portalPath, nullptr,
                [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
                   GVariant* parameters,
                   gpointer data) { static_cast<Run*>(data)->triggered(signal, parameters); }));
        }
        subscriptions.push_back(subscribe(
            portalName, shortcutsInterface, "ShortcutsChanged", portalPath, nullptr,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters,
               gpointer data) { static_cast<Run*>(data)->shortcutsChanged(parameters); }));
    }

    void triggered(const gchar* signal, GVariant* parameters) {
        if (closing || !sessionOpen ||
            !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) {
            return;
        }
        const gchar* session = nullptr;
        const gchar* id = nullptr;
        g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
        if (session == sessionHandle && std::string_view(id) == shortcutId) {
            notify(handlers.onTrigger, std::string_view(signal) == "Activated");
        }
    }

    void shortcutsChanged(GVariant* parameters) {
        if (closing || !sessionOpen ||
            !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa(sa{sv}))"))) {
            return;
        }
        const gchar* session = nullptr;
        GVariant* shortcuts = nullptr;
        g_variant_get(parameters, "(&o@a(sa{sv}))", &session, &shortcuts);
        const GlobalShortcutsBinding binding = bindingIn(shortcuts);
        g_variant_unref(shortcuts);
        if (session == sessionHandle) {
            notify(handlers.onBindingChanged, binding);
        }
    }

    void configured(GVariant* reply, GError* error) {
        if (!reply) {
            log("⚠️ 无法打开桌面的快捷键设置(ConfigureShortcuts):" +
                messageOf(error));
        }
    }

    void configure() {
        if (closing || !sessionOpen) {
            return;
        }
        call(portalPath, shortcutsInterface, "ConfigureShortcuts",
             g_variant_new("(osa{sv})", sessionHandle.c_str(), "", nullptr), nullptr,
             answeredBy<&Run::configured>);
    }

    // -----------------------------------------------------------------------------------------
    // Endings

    void dropSession() {
        for (guint& id : subscriptions) {
            unsubscribe(id);
        }
        subscriptions.clear();
        sessionOpen = false;
        impl.sessionOpen = false;
    }

    void finishStart(PortalStatus status, const std::string& reason) {
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
        notify(handlers.onStarted, PortalStartResult{status, {}, reason, version});
    }

    // The session (or the way to it) went away by itself.
    void ended(const std::string& reason) {
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

    // stop(): close the session, cancel what is under way, and leave the loop once the connection
    // is closed and the cancelled calls are back, or after shutdownTimeoutMs.
    void shutdown() {
        if (closing) {
            return;
        }
        closing = true;
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

    void quitWhenDrained() {
        if (closing && pendingCalls == 0) {
            g_main_loop_quit(loop);
        }
    }
};

GlobalShortcutsPortal::GlobalShortcutsPortal(std::string busAddress)
    : impl_(std::make_unique<Impl>()) {
    impl_->address = std::move(busAddress);
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() {
    stop();
}

void GlobalShortcutsPortal::start(std::string preferredTrigger, std::string description,
                                  Handlers handlers) {
    if (portalThreadOf == impl_.get()) {
        log("⚠️ GlobalShortcuts 门户:不能在它自己的回调里重新开始会话");
        return;
    }
    stop();
    GMainContext* context = g_main_context_new();
    auto run = std::make_unique<Run>(*impl_, context, std::move(preferredTrigger),
                                     std::move(description), std::move(handlers));
    impl_->version = 0;
    impl_->sessionOpen = false;
    impl_->stopped = false;
    std::lock_guard guard(impl_->lock);
    impl_->context = context;
    impl_->thread = std::thread([impl = impl_.get(), context, run = std::move(run)]() mutable {
        portalThreadOf = impl;
        g_main_context_push_thread_default(context);
        impl->run = run.get();
        run->begin();
        g_main_loop_run(run->loop);
        impl->run = nullptr;
        run.reset();
        g_main_context_pop_thread_default(context);
        portalThreadOf = nullptr;
    });
}

bool GlobalShortcutsPortal::canConfigure() const {
    return impl_->version >= 2 && impl_->sessionOpen;
}

bool GlobalShortcutsPortal::configure() {
    if (!impl_->sessionOpen) {
        log("⚠️ 无法打开桌面的快捷键设置:没有打开的 GlobalShortcuts 会话");
        return false;
    }
    if (impl_->version < 2) {
        log("⚠️ 无法打开桌面的快捷键设置:桌面门户的 GlobalShortcuts 版本 " +
            std::to_string(impl_->version) + " 不支持(需要 2)");
        return false;
    }
    impl_->post([impl = impl_.get()] {
        if (impl->run) {
            impl->run->configure();
        }
    });
    return true;
}

void GlobalShortcutsPortal::stop() {
    Impl& impl = *impl_;
    impl.stopped = true;
    impl.sessionOpen = false;
    const auto shutdown = [&impl] {
        if (impl.run) {
            impl.run->shutdown();
        }
    };
    if (portalThreadOf == &impl) {
        impl.post(shutdown);
        return;
    }
    GMainContext* context = nullptr;
    std::thread thread;
    {
        std::lock_guard guard(impl.lock);
        context = std::exchange(impl.context, nullptr);
        thread = std::move(impl.thread);
    }
    if (!thread.joinable()) {
        return;
    }
    attachIdle(context, shutdown);
    thread.join();
    g_main_context_unref(context);
}

}  // namespace vurin
