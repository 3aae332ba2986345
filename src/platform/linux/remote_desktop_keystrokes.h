#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/keystrokes.h"

namespace vurin {

// KeystrokeSender through the desktop portal's RemoteDesktop interface (GNOME, KDE): one
// keyboard-only session, started at the first need so that the desktop's consent dialog follows
// an action of the user, and started again after the portal restarted or the desktop ended it.
// All D-Bus work runs on a thread of its own with a private bus connection; requests queue there
// (waiting for the user's consent at most kConsentWaitSeconds) and their `done` runs on that
// thread. Strokes go as evdev key codes, text as keysyms; each event goes once the portal has
// taken the one before (it would reorder calls sent together). A user who declines is told once
// in the log; the sender then refuses everything (no second dialog in the same run).
class RemoteDesktopKeystrokes : public KeystrokeSender {
  public:
    enum class State { idle, starting, started, denied, failed };

    // The keysyms the desktop's keyboard map can type now; nothing when it cannot tell. The
    // desktop drops a keysym its map lacks without a word, so text is typed only up to the first
    // such character (and says so), never with characters left out.
    using TypeableKeysyms = std::function<std::optional<std::set<std::uint32_t>>()>;

    // An empty address means the session bus of DBUS_SESSION_BUS_ADDRESS. Asks the portal at
    // once (starting it if it is not running) whether it offers a keyboard.
    explicit RemoteDesktopKeystrokes(std::string busAddress = {}, TypeableKeysyms typeable = {});
    ~RemoteDesktopKeystrokes() override;
    RemoteDesktopKeystrokes(const RemoteDesktopKeystrokes&) = delete;
    RemoteDesktopKeystrokes& operator=(const RemoteDesktopKeystrokes&) = delete;

    // Starts the session (the consent dialog) unless one is open, starting or was declined.
    void prepare() override;
    void send(Keystroke keystroke, std::size_t count, std::chrono::microseconds interval,
              Done done) override;
    void type(const std::string& text, Done done) override;

    State state() const;
    // Whether the portal offers a keyboard; nothing until it has answered (or when it cannot).
    std::optional<bool> offersKeyboard() const;

    static constexpr int kConsentWaitSeconds = 30;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vurin
