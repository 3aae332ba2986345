#pragma once

namespace vurin {

// The ways a Wayland session could carry synthetic keystrokes into other programs, as this
// desktop offers them (read once at start). Which one Vurin uses is a separate choice.
struct WaylandKeystrokePaths {
    bool virtualKeyboard = false;      // zwp_virtual_keyboard_manager_v1 (wlroots compositors)
    bool remoteDesktopPortal = false;  // the portal's RemoteDesktop with a keyboard (GNOME, KDE)
    bool uinputWritable = false;       // /dev/uinput opens for writing as this user
};

}  // namespace vurin
