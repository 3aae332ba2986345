#pragma once

#include <memory>
#include <string>

#include "platform/global_shortcuts.h"

namespace vurin {

// A client of the desktop portal's GlobalShortcuts interface (the way a Wayland desktop lets a
// program have a key of its own): one session, one shortcut, press and release as events.
// All D-Bus work happens on a thread of its own with a private connection to the session bus,
// so a slow or absent portal never holds up the caller. Handlers run on that thread.
class GlobalShortcutsPortal : public GlobalShortcuts {
  public:
    // An empty address means the session bus of DBUS_SESSION_BUS_ADDRESS.
    explicit GlobalShortcutsPortal(std::string busAddress = {});
    ~GlobalShortcutsPortal() override;
    GlobalShortcutsPortal(const GlobalShortcutsPortal&) = delete;
    GlobalShortcutsPortal& operator=(const GlobalShortcutsPortal&) = delete;

    // Returns at once; the outcome arrives through onStarted. Opens one session and binds our
    // shortcut once with `description` and the wished-for `preferredTrigger` (XDG shortcut
    // format, "F13", "CTRL+ALT+D"); the desktop decides the key. A start while one runs stops
    // the previous one first. Not from a handler (it is refused with a log line).
    //
    // The owner of the portal's bus name is watched: when the portal leaves the bus the session
    // is over (onClosed), and when it is back (a restarted portal) a new session is made and the
    // shortcut bound again (onStarted once more).
    void start(std::string preferredTrigger, std::string description, Handlers handlers) override;

    // Whether the desktop can be asked to let the user pick the key (interface version 2 and
    // an open session).
    bool canConfigure() const override;
    // Asks the desktop to show its shortcut settings for our session; false, with one log line,
    // when it cannot.
    bool configure() override;

    // Closes the session and ends the thread. Idempotent. No handler runs after it returns
    // (from a handler it only ends the session; the thread is joined by the next start() or
    // stop() from elsewhere, or the destructor).
    void stop() override;

  private:
    struct Impl;
    struct Run;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vurin
