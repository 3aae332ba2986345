#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vurin {

// What the desktop bound for our shortcut.
struct GlobalShortcutsBinding {
    // False: the desktop (or its user) bound nothing for it, at least not yet.
    bool bound = false;
    // The desktop's own words for the key ("F13", "Ctrl+Alt+D"); may be empty even when bound.
    std::string triggerDescription;
};

enum class PortalStatus {
    bound,        // the session is open and our shortcut has a key
    notBound,     // the session is open, but the desktop bound no key for our shortcut
    unavailable,  // no session bus, no portal on it, or the portal has no GlobalShortcuts
    failed,       // the portal refused, the user cancelled, a call failed or did not answer
};

struct PortalStartResult {
    PortalStatus status = PortalStatus::failed;
    GlobalShortcutsBinding binding;
    // Why, in a log line's words, when the status is not `bound`.
    std::string reason;
    // The portal's GlobalShortcuts interface version; 0 when it could not be read.
    unsigned version = 0;
};

// A client of the desktop portal's GlobalShortcuts interface (the way a Wayland desktop lets a
// program have a key of its own): one session, one shortcut, press and release as events.
// All D-Bus work happens on a thread of its own with a private connection to the session bus,
// so a slow or absent portal never holds up the caller. Handlers run on that thread.
class GlobalShortcutsPortal {
  public:
    struct Handlers {
        // Once per start(), with the outcome.
        std::function<void(const PortalStartResult&)> onStarted;
        // Our shortcut went down (true) or up (false); called as soon as the signal is read.
        std::function<void(bool down)> onTrigger;
        // The user or the desktop changed what our shortcut is bound to.
        std::function<void(const GlobalShortcutsBinding&)> onBindingChanged;
        // The session ended (closed by the desktop, the portal left the bus, the bus was lost):
        // no more triggers until start() again. At most once per start(), and only after an
        // onStarted that opened a session (bound or notBound).
        std::function<void(const std::string& reason)> onClosed;
    };

    static constexpr const char* shortcutId = "dictate";

    // An empty address means the session bus of DBUS_SESSION_BUS_ADDRESS.
    explicit GlobalShortcutsPortal(std::string busAddress = {});
    ~GlobalShortcutsPortal();
    GlobalShortcutsPortal(const GlobalShortcutsPortal&) = delete;
    GlobalShortcutsPortal& operator=(const GlobalShortcutsPortal&) = delete;

    // Returns at once; the outcome arrives through onStarted. Opens one session and binds our
    // shortcut once with `description` and the wished-for `preferredTrigger` (XDG shortcut
    // format, "F13", "CTRL+ALT+D"); the desktop decides the key. A start while one runs stops
    // the previous one first. Not from a handler (it is refused with a log line).
    void start(std::string preferredTrigger, std::string description, Handlers handlers);

    // Whether the desktop can be asked to let the user pick the key (interface version 2 and
    // an open session).
    bool canConfigure() const;
    // Asks the desktop to show its shortcut settings for our session; false, with one log line,
    // when it cannot.
    bool configure();

    // Closes the session and ends the thread. Idempotent. No handler runs after it returns
    // (from a handler it only ends the session; the thread is joined by the next start() or
    // stop() from elsewhere, or the destructor).
    void stop();

  private:
    struct Impl;
    struct Run;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vurin
