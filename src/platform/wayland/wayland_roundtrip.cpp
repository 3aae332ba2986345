#include "platform/wayland/wayland_roundtrip.h"

#include <poll.h>

#include <cerrno>

namespace vurin {

namespace {

void answered(void* data, wl_callback*, std::uint32_t) {
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener kAnswered{.done = answered};

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Writes what is queued; a full socket is waited on until the deadline.
bool flushBy(wl_display* display, std::chrono::steady_clock::time_point deadline) {
    while (wl_display_flush(display) < 0) {
        pollfd writable{.fd = wl_display_get_fd(display), .events = POLLOUT, .revents = 0};
        if (errno != EAGAIN || poll(&writable, 1, millisecondsUntil(deadline)) <= 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool roundtripWithin(wl_display* display, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    if (!callback) {
        return false;
    }
    wl_callback_add_listener(callback, &kAnswered, &done);
    bool failed = false;
    while (!done && !failed) {
        if (wl_display_prepare_read(display) != 0) {
            failed = wl_display_dispatch_pending(display) < 0;
            continue;
        }
        pollfd readable{.fd = wl_display_get_fd(display), .events = POLLIN, .revents = 0};
        if (!flushBy(display, deadline) || poll(&readable, 1, millisecondsUntil(deadline)) <= 0) {
            wl_display_cancel_read(display);
            failed = true;
        } else {
            failed =
                wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0;
        }
    }
    wl_callback_destroy(callback);
    return done;
}

}  // namespace vurin
