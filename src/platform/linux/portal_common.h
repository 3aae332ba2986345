#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <string>

// What every desktop-portal client here shares (GDBus on a thread of its own).
namespace vurin::portal {

inline constexpr const char* kName = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPath = "/org/freedesktop/portal/desktop";
inline constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
inline constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";

// The error's message without GDBus's remote-error prefix ("未知错误" for none).
std::string messageOf(GError* error);
// The D-Bus error name of a remote error ("" for a local one).
std::string remoteErrorName(GError* error);
// The session bus, without the autolaunch GLib falls back to (it would start a bus of its own).
std::string sessionBusAddress();
// A private connection to `address` (a shared one would end the process with the bus); null
// with `error` set when it fails or is not made within `timeout`.
GDBusConnection* connectPrivately(const std::string& address, GError** error,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(2));
// Runs `task` once on `context`'s loop.
void attachIdle(GMainContext* context, std::function<void()> task);
// The object path of the Request a call with `handle_token` = `token` answers on, known before
// the call so that its Response is subscribed first.
std::string requestPath(GDBusConnection* bus, const std::string& token);
// The session a CreateSession response names ("" when none or not an object path). The
// frontend sends it as a string, although the interface says an object path: both are taken.
std::string sessionHandleOf(GVariant* results);

}  // namespace vurin::portal
