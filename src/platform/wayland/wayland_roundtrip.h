#pragma once

#include <wayland-client.h>

#include <chrono>

namespace vurin {

// wl_display_roundtrip within a time limit: every request so far reached the compositor and
// every event it sent back has been dispatched. False when the connection failed or the
// compositor did not answer in time (a compositor that hangs must not hold the caller).
bool roundtripWithin(wl_display* display, std::chrono::milliseconds limit);

}  // namespace vurin
