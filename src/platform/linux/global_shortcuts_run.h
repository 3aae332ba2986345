#pragma once

#include <gio/gio.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/global_shortcuts_portal.h"
#include "platform/linux/portal_common.h"

// The inside of GlobalShortcutsPortal, shared by its files: global_shortcuts_portal.cpp (the
// thread and the public calls), global_shortcuts_run.cpp (the bus, the start and the endings),
// global_shortcuts_requests.cpp (the portal's requests and the open session).
namespace vurin {

namespace shortcuts_portal {

inline constexpr const char* portalName = portal::kName;
inline constexpr const char* portalPath = portal::kPath;
inline constexpr const char* shortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
inline constexpr const char* requestInterface = portal::kRequestInterface;
inline constexpr const char* sessionInterface = portal::kSessionInterface;

// A bus that does not let us in within this time counts as no bus.
inline constexpr guint connectTimeoutMs = 5000;
// A method call (not its Response) that takes longer counts as failed.
inline constexpr int callTimeoutMs = 5000;
// CreateSession asks nobody; BindShortcuts may show the user a dialog.
inline constexpr guint createSessionTimeoutS = 30;
inline constexpr guint bindTimeoutS = 120;
// After the portal restarted, a failed start is tried again this many times, this much later
// each time (times the attempt).
inline constexpr int restartRetries = 3;
inline constexpr guint restartRetryMs = 1000;
// Stopping waits at most this long for the connection to close and cancelled calls to return.
inline constexpr guint shutdownTimeoutMs = 500;

}  // namespace shortcuts_portal

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
            portal::attachIdle(target, std::move(task));
            g_main_context_unref(target);
        }
    }
};

// One start(): everything here lives on the portal thread.
struct GlobalShortcutsPortal::Run {
    enum class Step { none, createSession, listShortcuts, bindShortcuts };

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
    // The portal left the bus with our session: a new owner of its name gets asked again.
    bool awaitingPortal = false;
    // Starts tried again since the portal came back; -1 before it ever went.
    int restartAttempts = -1;
    guint retryTimeout = 0;
    guint ownerSubscription = 0;  // the portal name's owner, watched for the whole run
    int pendingCalls = 0;
    unsigned tokens = 0;
    // The session token, the same in every run (see createSession); another one for the last
    // try after the portal restarted.
    std::string sessionToken = "vurin";
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
        removeTimeout(retryTimeout);
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

    guint addTimeout(guint ms, GSourceFunc function);

    void removeTimeout(guint& id);

    guint subscribe(const char* sender, const char* interface, const char* member, const char* path,
                    const char* arg0, GDBusSignalCallback callback);

    void unsubscribe(guint& id);

    // A call whose answer comes back on this thread (counted, so that stopping can wait for it).
    // Only the first call may start the portal: a desktop starts it on demand, and Vurin often
    // starts at log-in before anything else has asked for it.
    void call(const char* path, const char* interface, const char* method, GVariant* parameters,
              const GVariantType* replyType, GAsyncReadyCallback callback,
              GDBusCallFlags flags = G_DBUS_CALL_FLAGS_NO_AUTO_START);

    // A call nobody waits for (sent with "no reply expected").
    void send(const char* path, const char* interface, const char* method, GVariant* parameters);

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

    // Ends one counted call; false when the run is stopping and the answer is to be ignored.
    bool answered();

    // -----------------------------------------------------------------------------------------
    // Start: connect, read the version, CreateSession, BindShortcuts.

    void begin();

    void connected(GError* error);

    void readVersion();
    void versionRead(GVariant* reply, GError* error);

    // A fresh handle_token, and the Response subscribed on the handle it predicts.
    std::string expectResponse(Step what, guint timeoutS);

    guint subscribeResponse(const std::string& path);

    const char* stepName() const {
        switch (step) {
            case Step::createSession:
                return "CreateSession";
            case Step::listShortcuts:
                return "ListShortcuts";
            default:
                return "BindShortcuts";
        }
    }

    void clearRequest();

    void requestSent(GVariant* reply, GError* error);

    void requestTimedOut();

    void responded(const gchar* path, GVariant* parameters);

    void sendRequest(const char* method, GVariant* parameters);

    void createSession();

    // Our one shortcut as the portal's calls describe it.
    GVariant* shortcutsVariant() const;

    void sessionCreated(GVariant* results);

    // A shortcut the desktop has already (KDE registers it at CreateSession, and the user's
    // choice persists) needs no BindShortcuts, which on Plasma 5.27 opens its settings each time.
    void shortcutsListed(GVariant* results);

    void bindShortcuts();

    void shortcutsBound(GVariant* results);

    // -----------------------------------------------------------------------------------------
    // The open session

    void subscribeSession();

    void triggered(const gchar* signal, GVariant* parameters);

    void shortcutsChanged(GVariant* parameters);

    void configured(GVariant* reply, GError* error);

    void configure();

    // -----------------------------------------------------------------------------------------
    // Endings

    void dropSession();

    void finishStart(PortalStatus status, const std::string& reason);

    // The session (or the way to it) went away by itself.
    void ended(const std::string& reason);

    // The owner of the portal's name changed: gone, the session is over; a new one (a restarted
    // portal) is asked for a session and our shortcut again, so the trigger comes back by itself.
    void portalOwnerChanged(const std::string& newOwner);
    void startAgain();

    // stop(): close the session, cancel what is under way, and leave the loop once the connection
    // is closed and the cancelled calls are back, or after shutdownTimeoutMs.
    void shutdown();

    void quitWhenDrained();
};

}  // namespace vurin
