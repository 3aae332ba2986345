#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/keystrokes.h"

namespace vurin {

// KeystrokeSender through the desktop portal's RemoteDesktop interface (GNOME, KDE): one
// keyboard-only session for the life of the object, started at the first need so that the
// desktop's consent dialog follows an action of the user. D-Bus work runs on a thread of its own
// with a private bus connection. Strokes go as evdev key codes, text as keysyms; the events of a
// call go one after the other without any pause (the portal would reorder calls sent together),
// and the caller waits once, for the last. A user who declines
// is told once in the log; the sender then refuses everything (no second dialog).
class RemoteDesktopKeystrokes : public KeystrokeSender {
  public:
    enum class State { idle, starting, started, denied, failed };

    // An empty address means the session bus of DBUS_SESSION_BUS_ADDRESS.
    explicit RemoteDesktopKeystrokes(std::string busAddress = {});
    ~RemoteDesktopKeystrokes() override;
    RemoteDesktopKeystrokes(const RemoteDesktopKeystrokes&) = delete;
    RemoteDesktopKeystrokes& operator=(const RemoteDesktopKeystrokes&) = delete;

    // Starts the session (the consent dialog) unless one is open or starting; returns at once.
    void prepare();
    // Both start the session when needed and wait for the user's answer (at most
    // kConsentWaitSeconds), then for the portal to take every event.
    bool post(Keystroke keystroke) override;
    bool typeText(const std::string& text) override;

    State state() const;

    static constexpr int kConsentWaitSeconds = 30;

  private:
    struct Impl;
    struct Event;
    bool send(std::vector<Event> events);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vurin
