#include "platform/linux/trigger_command.h"

#include <dbus/dbus.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
// A Vurin that is itself still starting answers once its event loop runs; it is asked twice.
constexpr int startAnswerTimeoutMs = 5000;
constexpr int startAttempts = 2;

struct ConnectionClose {
    void operator()(DBusConnection* bus) const {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionClose>;

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

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

// The peer has no such method or signature (an older Vurin).
bool isUnknown(const DBusError& error) {
    return dbus_error_has_name(&error, DBUS_ERROR_UNKNOWN_METHOD) ||
           dbus_error_has_name(&error, DBUS_ERROR_UNKNOWN_INTERFACE) ||
           dbus_error_has_name(&error, DBUS_ERROR_UNKNOWN_PROPERTY) ||
           dbus_error_has_name(&error, DBUS_ERROR_INVALID_ARGS);
}

bool timedOut(const DBusError& error) {
    return dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY) ||
           dbus_error_has_name(&error, DBUS_ERROR_TIMEOUT) ||
           dbus_error_has_name(&error, DBUS_ERROR_TIMED_OUT);
}

Connection sessionBus(DBusError* error) {
    Connection bus(dbus_bus_get_private(DBUS_BUS_SESSION, error));
    if (bus) {
        dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    }
    return bus;
}

Message methodCall(const char* interface, const char* method) {
    Message message(dbus_message_new_method_call(trigger_bus::serviceName, trigger_bus::objectPath,
                                                 interface, method));
    if (message) {
        dbus_message_set_auto_start(message.get(), FALSE);
    }
    return message;
}

Message send(DBusConnection* bus, DBusMessage* message, int timeoutMs, DBusError* error) {
    return Message(dbus_connection_send_with_reply_and_block(bus, message, timeoutMs, error));
}

// The running Vurin's Trigger version; nothing when it has no such property (it is older) or
// did not answer (`error` says which).
std::optional<unsigned> triggerVersion(DBusConnection* bus, int timeoutMs, DBusError* error) {
    Message get = methodCall(DBUS_INTERFACE_PROPERTIES, "Get");
    const char* interface = trigger_bus::interfaceName;
    const char* property = trigger_bus::versionProperty;
    if (!get || !dbus_message_append_args(get.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                                          &property, DBUS_TYPE_INVALID)) {
        return std::nullopt;
    }
    const Message reply = send(bus, get.get(), timeoutMs, error);
    DBusMessageIter iter;
    if (!reply || !dbus_message_iter_init(reply.get(), &iter) ||
        dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) {
        return std::nullopt;
    }
    DBusMessageIter value;
    dbus_message_iter_recurse(&iter, &value);
    if (dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_UINT32) {
        return std::nullopt;
    }
    dbus_uint32_t version = 0;
    dbus_message_iter_get_basic(&value, &version);
    return version;
}

// The method as version 2 has it (with the start's moment) or as version 1 had it (without).
Message triggerCall(const char* method, std::optional<std::uint64_t> startedNs) {
    Message message = methodCall(trigger_bus::interfaceName, method);
    if (message && startedNs) {
        const dbus_uint64_t started = *startedNs;
        if (!dbus_message_append_args(message.get(), DBUS_TYPE_UINT64, &started,
                                      DBUS_TYPE_INVALID)) {
            return nullptr;
        }
    }
    return message;
}

// `startedNs`: when this command started (CLOCK_MONOTONIC), the moment the key moved as near as
// it can be told: the running Vurin orders and times presses by it.
int call(const char* method, std::uint64_t startedNs) {
    ScopedError error;
    const Connection bus = sessionBus(&error);
    if (!bus) {
        return fail("no session bus", error.message);
    }
    // The newest signature first, without asking the version: every call of a key's press
    // waits for the running Vurin once, not twice. One that does not know it is older, and may
    // still take version 1's.
    Message message = triggerCall(method, startedNs);
    if (!message) {
        return fail("out of memory");
    }
    Message reply = send(bus.get(), message.get(), callTimeoutMs, &error);
    const std::string_view name = method;
    const bool inVersion1 = name == trigger_bus::pressMethod || name == trigger_bus::releaseMethod;
    if (!reply && isUnknown(error) && inVersion1) {
        dbus_error_free(&error);
        message = triggerCall(method, std::nullopt);
        reply = message ? send(bus.get(), message.get(), callTimeoutMs, &error) : nullptr;
    }
    if (reply) {
        return 0;
    }
    if (hasNoOwner(error)) {
        return fail("no running Vurin on this session bus");
    }
    if (isUnknown(error) && !inVersion1) {
        return fail("the running Vurin is older and has no " + std::string(method) +
                    "; start the new one");
    }
    const std::string what = "the " + std::string(method) + " was not delivered";
    return fail(what, error.message);
}

void appendString(DBusMessageIter* dictionary, const char* key, const std::string& value) {
    if (value.empty()) {
        return;
    }
    DBusMessageIter entry;
    DBusMessageIter variant;
    const char* text = value.c_str();
    dbus_message_iter_open_container(dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s", &variant);
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &text);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(dictionary, &entry);
}

// org.freedesktop.Application.Activate with the start's tokens as its platform data.
Message activateCall(const StartupTokens& tokens) {
    Message message =
        methodCall(trigger_bus::freedesktopApplicationInterface, trigger_bus::activateMethod);
    if (!message) {
        return nullptr;
    }
    DBusMessageIter arguments;
    DBusMessageIter dictionary;
    dbus_message_iter_init_append(message.get(), &arguments);
    dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{sv}", &dictionary);
    appendString(&dictionary, trigger_bus::activationTokenKey, tokens.activationToken);
    appendString(&dictionary, trigger_bus::startupIdKey, tokens.startupId);
    dbus_message_iter_close_container(&arguments, &dictionary);
    return message;
}

// One question to the running Vurin: any answer counts, an error reply too (it is there).
bool answers(DBusConnection* bus, const StartupTokens& tokens, bool bringForward,
             DBusError* error) {
    if (!bringForward) {
        triggerVersion(bus, startAnswerTimeoutMs, error);
        return !dbus_error_is_set(error) || isUnknown(*error);
    }
    Message activate = activateCall(tokens);
    if (activate && send(bus, activate.get(), startAnswerTimeoutMs, error)) {
        return true;
    }
    if (!isUnknown(*error)) {
        return false;
    }
    dbus_error_free(error);  // a Vurin from before Activate
    Message show = methodCall(trigger_bus::applicationInterface, trigger_bus::showSettingsMethod);
    return show && send(bus, show.get(), startAnswerTimeoutMs, error);
}

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

StartupTokens startupTokensFromEnvironment() {
    return {.activationToken = variable("XDG_ACTIVATION_TOKEN"),
            .startupId = variable("DESKTOP_STARTUP_ID")};
}

RunningVurinAnswer askRunningVurin(const StartupTokens& tokens, bool bringForward) {
    ScopedError error;
    const Connection bus = sessionBus(&error);
    if (!bus) {
        return {};
    }
    for (int attempt = 0; attempt < startAttempts; ++attempt) {
        dbus_error_free(&error);
        if (!dbus_bus_name_has_owner(bus.get(), trigger_bus::serviceName, &error)) {
            return {};
        }
        if (answers(bus.get(), tokens, bringForward, &error)) {
            return {.state = RunningVurin::answered};
        }
        if (hasNoOwner(error)) {
            return {};  // it quit a moment ago
        }
        if (!timedOut(error)) {
            break;
        }
    }
    std::string detail = error.message ? error.message : "";
    if (timedOut(error)) {
        detail = "no answer within " + std::to_string(startAttempts * startAnswerTimeoutMs / 1000) +
                 " s";
    }
    return {.state = RunningVurin::silent, .detail = detail};
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
