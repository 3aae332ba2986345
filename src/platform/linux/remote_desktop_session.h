#pragma once

#include <gio/gio.h>

#include <functional>
#include <optional>
#include <string>

namespace vurin {

// One keyboard session of the desktop portal's RemoteDesktop interface, driven on a GLib thread
// of its owner's: connect, CreateSession, SelectDevices (keyboard), Start (the user's consent),
// and the ends it can come to (declined, failed, closed by the desktop, the portal gone or
// restarted). Every method and callback runs on that thread.
class RemoteDesktopSession {
  public:
    enum class Phase { idle, starting, started, denied, failed };

    struct Callbacks {
        // The phase changed (started: events may go; idle again: the session is gone and may be
        // started anew; denied, failed: it said why in the log).
        std::function<void(Phase phase)> changed;
        // The portal's answer to whether it offers a keyboard (asked by probe()).
        std::function<void(std::optional<bool> keyboard)> probed;
    };

    RemoteDesktopSession(GMainContext* context, std::string address, Callbacks callbacks);
    ~RemoteDesktopSession();
    RemoteDesktopSession(const RemoteDesktopSession&) = delete;
    RemoteDesktopSession& operator=(const RemoteDesktopSession&) = delete;

    // Asks for AvailableDeviceTypes, starting the portal if it is not running.
    void probe();
    // Starts the session unless it is starting, started or was declined.
    void start();
    Phase phase() const { return phase_; }
    GDBusConnection* bus() const { return bus_; }
    const std::string& handle() const { return session_; }
    // Closes the session and the connection; calls made meanwhile come back cancelled.
    void shutdown();

    static constexpr const char* kInterface = "org.freedesktop.portal.RemoteDesktop";

  private:
    enum class Step { none, createSession, selectDevices, start };

    bool connect();
    void watchPortal();
    void portalOwnerChanged(const std::string& owner);
    void request(Step what, const char* method);
    const char* stepName() const;
    void clearRequest();
    void responded(GVariant* parameters);
    void watchSession();
    void dropSession();
    void closeSession();
    void lost(const std::string& why);
    void fail(const std::string& reason);
    void setPhase(Phase next);
    void dropBus();

    GMainContext* context_;
    const std::string address_;
    Callbacks callbacks_;
    GCancellable* cancellable_ = g_cancellable_new();
    GDBusConnection* bus_ = nullptr;
    gulong closedHandler_ = 0;
    guint ownerSubscription_ = 0;
    std::string portalOwner_;
    Phase phase_ = Phase::idle;
    std::string session_;
    std::string requestPath_;
    Step step_ = Step::none;
    guint responseSubscription_ = 0;
    guint closedSubscription_ = 0;
    guint requestTimeout_ = 0;
    unsigned tokens_ = 0;
};

}  // namespace vurin
