#include "platform/linux/portal_common.h"

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

namespace vurin::portal {

std::string messageOf(GError* error) {
    if (!error) {
        return "未知错误";
    }
    g_dbus_error_strip_remote_error(error);
    return error->message;
}

std::string remoteErrorName(GError* error) {
    gchar* name = error ? g_dbus_error_get_remote_error(error) : nullptr;
    std::string result = name ? name : "";
    g_free(name);
    return result;
}

std::string sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return address;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        const auto socket = std::filesystem::path(runtime) / "bus";
        std::error_code error;
        if (std::filesystem::exists(socket, error)) {
            return "unix:path=" + socket.string();
        }
    }
    return {};
}

namespace {

// One connection attempt, shared by the caller and the thread that makes it: whichever is left
// last frees what the other no longer wants.
struct Attempt {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    GDBusConnection* bus = nullptr;
    GError* error = nullptr;
};

void discard(GDBusConnection* bus, GError* error) {
    if (bus) {
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
    }
    g_clear_error(&error);
}

}  // namespace

// GDBus has no time limit for authentication and the bus's Hello: a bus that accepted the socket
// and never answers would hold the caller for good. The attempt runs on a thread of its own, and
// a caller that stops waiting leaves it to clean up after itself.
GDBusConnection* connectPrivately(const std::string& address, GError** error,
                                  std::chrono::milliseconds timeout) {
    auto attempt = std::make_shared<Attempt>();
    std::thread([attempt, address] {
        GError* failure = nullptr;
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &failure);
        if (bus) {
            g_dbus_connection_set_exit_on_close(bus, FALSE);
        }
        std::unique_lock guard(attempt->lock);
        if (attempt->abandoned) {
            guard.unlock();
            discard(bus, failure);
            return;
        }
        attempt->bus = bus;
        attempt->error = failure;
        attempt->done = true;
        attempt->finished.notify_all();
    }).detach();
    std::unique_lock guard(attempt->lock);
    if (!attempt->finished.wait_for(guard, timeout, [&] { return attempt->done; })) {
        attempt->abandoned = true;
        g_set_error(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "会话总线 %lld 毫秒内没有回应",
                    static_cast<long long>(timeout.count()));
        return nullptr;
    }
    if (attempt->error) {
        g_propagate_error(error, attempt->error);
    }
    return attempt->bus;
}

void attachIdle(GMainContext* context, std::function<void()> task) {
    GSource* source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(task)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, context);
    g_source_unref(source);
}

std::string requestPath(GDBusConnection* bus, const std::string& token) {
    std::string sender = g_dbus_connection_get_unique_name(bus);
    sender.erase(0, sender.rfind(':') + 1);
    for (char& c : sender) {
        c = c == '.' ? '_' : c;
    }
    return std::string(kPath) + "/request/" + sender + "/" + token;
}

std::string sessionHandleOf(GVariant* results) {
    std::string session;
    GVariant* handle = g_variant_lookup_value(results, "session_handle", nullptr);
    if (handle && (g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING) ||
                   g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH))) {
        session = g_variant_get_string(handle, nullptr);
    }
    if (handle) {
        g_variant_unref(handle);
    }
    return g_variant_is_object_path(session.c_str()) ? session : std::string();
}

}  // namespace vurin::portal
