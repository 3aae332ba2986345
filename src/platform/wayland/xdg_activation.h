#pragma once

#include <string>

struct wl_display;
struct wl_surface;

namespace vurin {

// Brings a surface of the connection `display` forward with the token the desktop handed out for
// the user's request (a launcher's XDG_ACTIVATION_TOKEN): the compositor gives it the focus as it
// would a window the user clicked. False when the compositor has no xdg-activation. Binds the
// global once per connection, on an event queue of its own, so the toolkit's queue is never
// dispatched from here.
bool activateWaylandSurface(wl_display* display, wl_surface* surface, const std::string& token);

}  // namespace vurin
