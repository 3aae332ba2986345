#include "platform/linux/background_portal.h"

#include <gio/gio.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/linux/portal_common.h"

namespace vurin {

namespace {

// The desktop may show a dialog; an answer later than this is not waited for.
constexpr guint kAnswerSeconds = 120;
constexpr int kCallTimeoutMs = 10000;

struct Answer {
    BackgroundAnswer answer = BackgroundAnswer::unavailable;
    std::string detail;
};

struct Waiting {
    GMainLoop* loop = nullptr;
    bool answered = false;
    guint32 response = 2;
    bool background = false;
};

void responded(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer data) {
    auto& waiting = *static_cast<Waiting*>(data);
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &waiting.response, &results);
    gboolean background = FALSE;
    if (results) {
        g_variant_lookup(results, "background", "b", &background);
        g_variant_unref(results);
    }
    waiting.background = background != FALSE;
    waiting.answered = true;
    g_main_loop_quit(waiting.loop);
}

Answer answerOf(const Waiting& waiting) {
    if (!waiting.answered) {
        return {BackgroundAnswer::unavailable,
                "门户 " + std::to_string(kAnswerSeconds) + " 秒内没有答复"};
    }
    switch (waiting.response) {
        case 0:
            return waiting.background ? Answer{BackgroundAnswer::allowed, "门户同意"}
                                      : Answer{BackgroundAnswer::refused, "门户答复不允许"};
        case 1:
            return {BackgroundAnswer::refused, "用户拒绝了"};
        default:
            return {BackgroundAnswer::refused,
                    "门户结束了请求(回应 " + std::to_string(waiting.response) + ")"};
    }
}

// Calls RequestBackground on `bus` and waits on `context` for its Response.
Answer ask(GDBusConnection* bus, GMainContext* context, GMainLoop* loop,
           const std::string& reason) {
    static std::atomic<unsigned> counter{0};
    const std::string token = "vurin_background_" + std::to_string(++counter);
    Waiting waiting{.loop = loop};
    std::string path = portal::requestPath(bus, token);
    guint subscription = g_dbus_connection_signal_subscribe(
        bus, portal::kName, portal::kRequestInterface, "Response", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, responded, &waiting, nullptr);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "reason", g_variant_new_string(reason.c_str()));
    // Vurin's own autostart entry starts it at login; the portal is not to write another.
    g_variant_builder_add(&options, "{sv}", "autostart", g_variant_new_boolean(FALSE));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, portal::kName, portal::kPath, BackgroundPortal::kInterface, "RequestBackground",
        g_variant_new("(sa{sv})", "", &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
        kCallTimeoutMs, nullptr, &error);
    if (!reply) {
        g_dbus_connection_signal_unsubscribe(bus, subscription);
        Answer failed{BackgroundAnswer::unavailable, portal::messageOf(error)};
        g_clear_error(&error);
        return failed;
    }
    const gchar* handle = nullptr;
    g_variant_get(reply, "(&o)", &handle);
    if (handle && path != handle) {  // a portal that names the request its own way
        g_dbus_connection_signal_unsubscribe(bus, subscription);
        path = handle;
        subscription = g_dbus_connection_signal_subscribe(
            bus, portal::kName, portal::kRequestInterface, "Response", path.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, responded, &waiting, nullptr);
    }
    g_variant_unref(reply);
    GSource* timeout = g_timeout_source_new_seconds(kAnswerSeconds);
    g_source_set_callback(
        timeout,
        [](gpointer data) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(data));
            return G_SOURCE_REMOVE;
        },
        loop, nullptr);
    g_source_attach(timeout, context);
    if (!waiting.answered) {
        g_main_loop_run(loop);
    }
    g_source_destroy(timeout);
    g_source_unref(timeout);
    g_dbus_connection_signal_unsubscribe(bus, subscription);
    return answerOf(waiting);
}

}  // namespace

struct BackgroundPortal::Run {
    std::mutex lock;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    bool ending = false;
    std::thread thread;
};

BackgroundPortal::BackgroundPortal() : run_(std::make_shared<Run>()) {}

BackgroundPortal::~BackgroundPortal() {
    {
        std::lock_guard guard(run_->lock);
        run_->ending = true;
        // Through the loop's own context: a quit before the loop runs would be lost.
        if (GMainLoop* loop = run_->loop) {
            portal::attachIdle(run_->context, [loop] { g_main_loop_quit(loop); });
        }
    }
    if (run_->thread.joinable()) {
        run_->thread.join();
    }
}

void BackgroundPortal::request(
    const std::string& reason,
    std::function<void(BackgroundAnswer answer, const std::string& detail)> done) {
    if (run_->thread.joinable()) {
        run_->thread.join();  // the one before has ended (requests come once per start)
    }
    run_->thread = std::thread([run = run_, reason, done = std::move(done)] {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        GMainLoop* loop = g_main_loop_new(context, FALSE);
        {
            std::lock_guard guard(run->lock);
            run->context = context;
            run->loop = loop;
        }
        Answer answer{BackgroundAnswer::unavailable, "没有会话总线"};
        const std::string address = portal::sessionBusAddress();
        GError* error = nullptr;
        GDBusConnection* bus =
            address.empty() ? nullptr : portal::connectPrivately(address, &error);
        if (!address.empty() && !bus) {
            answer.detail = portal::messageOf(error);
            g_clear_error(&error);
        }
        bool ending = false;
        {
            std::lock_guard guard(run->lock);
            ending = run->ending;
        }
        if (bus && !ending) {
            answer = ask(bus, context, loop, reason);
        }
        if (bus) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
        {
            std::lock_guard guard(run->lock);
            run->loop = nullptr;
            run->context = nullptr;
            ending = run->ending;
        }
        g_main_loop_unref(loop);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
        if (!ending) {
            done(answer.answer, answer.detail);
        }
    });
}

}  // namespace vurin
