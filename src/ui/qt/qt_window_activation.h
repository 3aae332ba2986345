#pragma once

#include <string>

class QWidget;

namespace vurin {

// Brings a shown top-level window forward and gives it the focus, for a request of the user's.
// With `token`, the desktop's proof that the user asked from outside Vurin (a launcher's
// XDG_ACTIVATION_TOKEN on Wayland, its DESKTOP_STARTUP_ID on X11), handed to the compositor or
// window manager, which would otherwise only mark the window as wanting attention; on X11 the
// start the launcher announced is also declared complete.
void activateWithToken(QWidget* window, const std::string& token);

// The start a launcher announced with `token` is complete although it opened no window, so the
// desktop stops showing it as starting (X11's startup notification; nothing to do on Wayland).
void completeStartup(const std::string& token);

}  // namespace vurin
