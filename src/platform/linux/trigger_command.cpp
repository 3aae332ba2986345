#include "platform/linux/trigger_command.h"

#include <dbus/dbus.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/trigger_bus.h"

namespace vurin {

namespace {

// A binding runs this on every key-down and key-up: a Vurin that does not answer quickly is
// reported rather than waited for.
constexpr int callTimeoutMs = 1000;
// A Vurin that is itself still starting answers once its event loop runs.
constexpr int showSettingsTimeoutMs = 5000;

struct ConnectionClose {
    void operator()(DBusConnection* bus) const {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
};

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};

struct ScopedError : DBusError {
    ScopedError() { dbus_error_init(this); }
    ~ScopedError() { dbus_error_free(this); }
    ScopedError(const ScopedError&) = delete;
    ScopedError& operator=(const ScopedError&) = delete;
};

int fail(std::string_view what, const char* detail = nullptr) {
    std::fprintf(stderr, "vurin: %.*s%s%s\n", static_cast<int>(what.size()), what.data(),
                 detail ? ": " : "", detail ? detail : "");
    return 1;
}

bool hasNoOwner(const DBusError& error) {
    return dbus_error_has_name(&error, DBUS_ERROR_SERVICE_UNKNOWN) ||
           dbus_error_has_name(&error, DBUS_ERROR_NAME_HAS_NO_OWNER);
}

// `startedNs`: when this command started (CLOCK_MONOTONIC), the moment the key moved as near as
// it can be told: the running Vurin orders and times presses by it.
int call(const char* method, std::uint64_t startedNs) {
    ScopedError error;
    std::unique_ptr<DBusConnection, ConnectionClose> bus(
        dbus_bus_get_private(DBUS_BUS_SESSION, &error));
    if (!bus) {
        return fail("no session bus", error.message);
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    std::unique_ptr<DBusMessage, MessageUnref> message(dbus_message_new_method_call(
        trigger_bus::serviceName, trigger_bus::objectPath, trigger_bus::interfaceName, method));
    if (!message) {
        return fail("out of memory");
    }
    dbus_message_set_auto_start(message.get(), FALSE);
    const dbus_uint64_t started = startedNs;
    if (!dbus_message_append_args(message.get(), DBUS_TYPE_UINT64, &started, DBUS_TYPE_INVALID)) {
        return fail("out of memory");
    }
    std::unique_ptr<DBusMessage, MessageUnref> reply(
        dbus_connection_send_with_reply_and_block(bus.get(), message.get(), callTimeoutMs, &error));
    if (reply) {
        return 0;
    }
    if (hasNoOwner(error)) {
        return fail("no running Vurin on this session bus");
    }
    const std::string what = "the " + std::string(method) + " was not delivered";
    return fail(what, error.message);
}

}  // namespace

std::optional<int> showRunningVurin() {
    ScopedError error;
    std::unique_ptr<DBusConnection, ConnectionClose> bus(
        dbus_bus_get_private(DBUS_BUS_SESSION, &error));
    if (!bus) {
        return std::nullopt;
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    if (!dbus_bus_name_has_owner(bus.get(), trigger_bus::serviceName, &error)) {
        return std::nullopt;
    }
    std::unique_ptr<DBusMessage, MessageUnref> message(dbus_message_new_method_call(
        trigger_bus::serviceName, trigger_bus::objectPath, trigger_bus::applicationInterface,
        trigger_bus::showSettingsMethod));
    if (!message) {
        return fail("out of memory");
    }
    dbus_message_set_auto_start(message.get(), FALSE);
    std::unique_ptr<DBusMessage, MessageUnref> reply(dbus_connection_send_with_reply_and_block(
        bus.get(), message.get(), showSettingsTimeoutMs, &error));
    if (reply) {
        return 0;
    }
    if (hasNoOwner(error)) {
        return std::nullopt;  // it quit a moment ago
    }
    return fail("a Vurin already runs in this session but did not open its settings",
                error.message);
}

std::optional<int> runTriggerCommand(int argc, char** argv) {
    if (argc < 2 || std::string_view(argv[1]) != "--trigger") {
        return std::nullopt;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t startedNs = static_cast<std::uint64_t>(now.tv_sec) * 1000000000ULL +
                                    static_cast<std::uint64_t>(now.tv_nsec);
    const std::string_view action = argc == 3 ? argv[2] : "";
    const std::pair<std::string_view, const char*> methods[] = {
        {"press", trigger_bus::pressMethod},
        {"release", trigger_bus::releaseMethod},
        {"toggle", trigger_bus::toggleMethod},
        {"send", trigger_bus::sendMethod},
        {"cancel", trigger_bus::cancelMethod}};
    for (const auto& [name, method] : methods) {
        if (action == name) {
            return call(method, startedNs);
        }
    }
    std::fputs("usage: vurin --trigger press|release|toggle|send|cancel\n", stderr);
    return 2;
}

}  // namespace vurin
