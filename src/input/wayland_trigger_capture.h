#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/app_services.h"
#include "input/gesture_engine.h"
#include "input/trigger_commands.h"
#include "input/trigger_delivery.h"
#include "platform/global_shortcuts.h"
#include "platform/keyboard_watch.h"
#include "platform/main_queue.h"
#include "platform/permission_probe.h"

namespace vurin {

// The trigger in a Wayland session, where no program may grab a key. Three sources, the first
// that works delivers: the desktop's global shortcuts (portal) when it binds ours, else the
// keyboards' event nodes when this user may read them, else a compositor binding that runs
// `vurin --trigger press|release`. Only one source counts at a time: two sources seeing the same
// key (a portal shortcut and a binding of that key) would make every click a double click.
//
// Thread use: sourceEvent() may run on any thread (each source stamps its presses as it reads
// them); everything else is main-thread only.
class WaylandTriggerCapture : public TriggerCapture,
                              public std::enable_shared_from_this<WaylandTriggerCapture> {
  public:
    enum class Path { none, portal, keyboards, binding };

    struct Sources {
        std::shared_ptr<GlobalShortcuts> shortcuts;  // null: the desktop has no portal for it
        std::shared_ptr<KeyboardWatch> keyboards;    // null: no evdev access at all
        // The keysym name of an evdev code ("F13"), for the shortcut the portal is asked for.
        std::function<std::optional<std::string>(int evdevCode)> keyName;
        // The desktop's own shortcuts run a command on the press only (GNOME's custom
        // shortcuts), and whether one of Vurin's runs `vurin --trigger toggle` there now.
        bool pressOnlyShortcuts = false;
        std::function<bool()> toggleShortcutSet;
    };

    // How the key is used: held while speaking, or pressed once to start and once to stop
    // where the desktop reports only presses.
    enum class Mode { hold, toggle };
    struct ModeReport {
        Mode mode = Mode::hold;
        std::string why;  // in the interface language
    };

    struct Callbacks {
        // Sets the settings window's trigger-key label, when that window exists.
        std::function<void(const std::string& text)> setTriggerKeyLabel;
        // Something the permission window shows changed (a source bound or lost).
        std::function<void()> sourcesChanged;
    };

    static std::shared_ptr<WaylandTriggerCapture> create(std::shared_ptr<MainQueue> mainQueue,
                                                         Sources sources);
    ~WaylandTriggerCapture() override;

    // Start-up wiring (main thread, before setupEventTap()).
    void setEngine(std::weak_ptr<GestureEngine> engine);
    void setCallbacks(Callbacks callbacks);
    void setTapKeyCode(std::int64_t keyCode);
    // Whether `vurin --trigger` reaches this process (its session-bus name is ours).
    void setBindingAvailable(bool available);

    // Starts the sources once; true when at least one can deliver a press.
    bool setupEventTap() override;
    // A press or release from the compositor binding (`vurin --trigger`), with the time the
    // command started when it says. Each press and release is a process of its own, so a release
    // may overtake its press: an event older than one already handled is dropped, so that a late
    // press cannot hold the key down after its release.
    void bindingEvent(bool down, std::optional<double> at = std::nullopt);
    // A toggle, send or cancel from `vurin --trigger` (a shortcut that runs on the press only):
    // the binding delivers, and toggling is the mode from now on.
    void bindingCommandSeen(TriggerCommand command);
    // The mode in effect now and why, for the permission window; `describe` in the log's words.
    ModeReport mode() const;
    static std::string describe(Mode mode);
    // "Set key…": the desktop's own shortcut settings where the portal can open them; otherwise
    // the log and the label say where the key is set.
    void startDetectKey();
    void stop();

    // Which source delivers presses now (the binding also when another one does).
    Path activePath() const;
    // The grant the permission window shows for the trigger.
    KeyGrabAccess access() const;
    // The settings label: the key and, when the desktop chose it, what the desktop bound.
    std::string triggerKeyLabel() const;
    // The configured key's keysym name, as a compositor binding names it ("XF86Tools" for F13
    // in the default keyboard map).
    std::string bindingKeyName() const;
    // The configured key's evdev code (183, F13, when it has none).
    int bindingEvdevCode() const;
    // The two lines to paste into sway's configuration, and Hyprland's.
    static std::vector<std::string> swayBindingLines(const std::string& keyName,
                                                     const std::string& program);
    static std::vector<std::string> hyprlandBindingLines(const std::string& keyName,
                                                         const std::string& program);

    // Any thread: a source's key went down or up. `device` tells keyboards apart.
    void sourceEvent(Path source, const std::string& device, bool down,
                     std::optional<double> at = std::nullopt);

  private:
    WaylandTriggerCapture(std::shared_ptr<MainQueue> mainQueue, Sources sources);

    void startShortcuts(int evdevCode);
    void shortcutsStarted(const PortalStartResult& result);
    void shortcutsChanged(const GlobalShortcutsBinding& binding);
    void shortcutsClosed(const std::string& reason);
    void usePortal(const GlobalShortcutsBinding& binding);
    void leavePortal(const std::string& reason);
    void startKeyboards(int evdevCode);
    void keyboardLost(const std::string& source, const KeyGrabResult& result);
    void keyboardAdded(const std::string& source);
    void setPath(Path path);
    // Under heldLock_: the trigger went down or up (stamped `at`), for deliverMoves().
    void queueMoveLocked(bool down, double at);
    // Main thread: hands the queued moves to the engine, in the order they were decided.
    void deliverMoves();
    void scheduleDelivery();
    std::string keyName(int evdevCode) const;
    void showLabel();
    void changed();

    std::shared_ptr<MainQueue> mainQueue_;
    Sources sources_;
    Callbacks callbacks_;

    mutable std::mutex heldLock_;
    Path path_ = Path::none;               // guarded by heldLock_
    std::set<std::string> held_;           // guarded by heldLock_: devices of path_ holding it
    std::weak_ptr<GestureEngine> engine_;  // guarded by heldLock_
    // Guarded by heldLock_: decided under the lock, delivered outside it, so that two sources'
    // threads cannot hand the engine a press and its release the wrong way round.
    struct Move {
        bool down = false;
        double at = 0;
    };
    std::deque<Move> moves_;

    // Main thread only.
    std::int64_t keyCode_ = 105;
    bool started_ = false;
    bool stopped_ = false;
    bool bindingAvailable_ = false;
    bool bindingUsed_ = false;  // a press came through the binding
    bool toggleSeen_ = false;   // a toggle came through the binding
    bool ignoredBindingLogged_ = false;
    BindingEventOrder bindingOrder_;
    bool notSwallowedLogged_ = false;
    bool shortcutsPending_ = false;   // the portal has not answered yet
    bool shortcutsAnswered_ = false;  // it has, at least once
    bool shortcutsOpen_ = false;      // the portal session is open, with or without our key bound
    std::optional<GlobalShortcutsBinding> shortcutsBinding_;  // set while the portal binds ours
    std::vector<std::string> keyboardsRead_;
};

}  // namespace vurin
