#pragma once

#include <optional>

namespace vurin {

// The device types the desktop portal's RemoteDesktop interface can emulate (1 keyboard,
// 2 pointer, 4 touchscreen), read over a private session-bus connection within half a second.
// Nothing when there is no portal, no such interface or no answer; the portal is never started
// for this question.
std::optional<unsigned> remoteDesktopDeviceTypes();

// The version of the portal's GlobalShortcuts interface, asked the same way; nothing when the
// portal is not running or has no such interface.
std::optional<unsigned> globalShortcutsVersion();

}  // namespace vurin
