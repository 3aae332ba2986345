#pragma once

#include <functional>
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

// The desktop's global shortcuts (the way a Wayland desktop lets a program have a key of its
// own): one session, one shortcut, press and release as events. Implementations: the
// GlobalShortcuts portal (platform/linux/global_shortcuts_portal.cpp), fakes in tests.
class GlobalShortcuts {
  public:
    struct Handlers {
        // Once per start(), with the outcome; and again, with a new session's, each time the
        // desktop's portal comes back after it went away (onClosed told of that).
        std::function<void(const PortalStartResult&)> onStarted;
        // Our shortcut went down (true) or up (false); called as soon as the desktop says so.
        std::function<void(bool down)> onTrigger;
        // The user or the desktop changed what our shortcut is bound to.
        std::function<void(const GlobalShortcutsBinding&)> onBindingChanged;
        // The session ended: no more triggers until start() again.
        std::function<void(const std::string& reason)> onClosed;
    };

    static constexpr const char* shortcutId = "dictate";

    virtual ~GlobalShortcuts() = default;

    // Returns at once; the outcome arrives through onStarted, on a thread of the
    // implementation's, as every handler does.
    virtual void start(std::string preferredTrigger, std::string description,
                       Handlers handlers) = 0;
    // Whether the desktop can be asked to let the user pick the key.
    virtual bool canConfigure() const = 0;
    // Asks the desktop to show its shortcut settings for our shortcut; false when it cannot.
    virtual bool configure() = 0;
    // Ends the session; no handler runs after it returns. Idempotent.
    virtual void stop() = 0;
};

}  // namespace vurin
