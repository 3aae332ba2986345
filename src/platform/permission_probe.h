#pragma once

#include <filesystem>
#include <string>

namespace vurin {

// Whether keystrokes can be synthesized into other programs.
enum class SyntheticInputAccess {
    granted,
    noDisplay,         // no display server reachable
    noSyntheticInput,  // the display server has no extension for synthetic input
    noKeystrokePath,   // a Wayland session offers no keystroke path Vurin can use
    declined,          // the user declined the desktop's request (RemoteDesktop portal)
};

// Whether a passive grab of the trigger key is accepted.
enum class KeyGrabAccess {
    granted,
    taken,      // another program holds the key (or the key is outside the keyboard's range)
    noDisplay,  // no display server reachable
    noSuchKey,  // the configured key has no key on this system (Fn, say)
    // Wayland: only a compositor binding (`vurin --trigger`) can deliver the key, and none has
    // yet; it works once the user has bound it.
    bindingOnly,
    noTriggerSource,  // Wayland: no portal shortcut, no readable keyboard, no session bus name
};

// The system facilities behind the grants dictation needs. Calls come from the main thread and
// answer within a short, bounded time. Implementations: X11 + AT-SPI
// (platform/x11/permission_probe_x11.cpp), fakes in tests.
class PermissionProbe {
  public:
    virtual ~PermissionProbe() = default;

    virtual SyntheticInputAccess syntheticInput() = 0;
    // The accessibility bus that focus reading uses can be reached (reported, not required).
    virtual bool accessibilityBusReachable() = 0;
    // Tries a passive grab of `evdevCode` and gives it back at once.
    virtual KeyGrabAccess keyGrab(int evdevCode) = 0;
};

// The places where a user fixes a missing grant.
enum class SettingsPage { accessibility, inputMonitoring, microphone };

// What opening a page starts.
enum class SettingsDestination {
    desktopPanel,  // the desktop's own settings, at the matching panel
    soundMixer,    // a stand-alone volume control (pavucontrol)
    helpPage,      // a help page, when the desktop has nothing for it
};

// The desktop's own settings program. Implementations: platform/linux/desktop_settings_linux.cpp.
class DesktopSettings {
  public:
    virtual ~DesktopSettings() = default;

    // The desktop's name for people ("GNOME", "KDE Plasma"), empty when it is not one we know.
    virtual std::string desktopName() const = 0;
    virtual SettingsDestination destination(SettingsPage page) const = 0;
    // Starts the page's destination without waiting for it; `helpPage` is the file shown when
    // the destination is the help page. False when nothing could be started.
    virtual bool open(SettingsPage page, const std::filesystem::path& helpPage) = 0;
};

}  // namespace vurin
