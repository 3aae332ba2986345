#include "platform/wayland/wayland_globals.h"

#include <wayland-client.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/wayland/wayland_roundtrip.h"

namespace vurin {

namespace {

void addGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
    static_cast<WaylandGlobals*>(data)->interfaces.insert(interface);
}

void removeGlobal(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kListener{.global = addGlobal, .global_remove = removeGlobal};

}  // namespace

std::optional<WaylandGlobals> readWaylandGlobals(std::string* error) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        if (error) {
            const char* name = std::getenv("WAYLAND_DISPLAY");
            *error = std::string("连不上 Wayland 合成器(WAYLAND_DISPLAY=") + (name ? name : "") +
                     "):" + std::strerror(errno);
        }
        return std::nullopt;
    }
    WaylandGlobals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kListener, &globals);
    const bool answered = roundtripWithin(display, std::chrono::seconds(2));
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!answered) {
        if (error) {
            *error = "Wayland 合成器没有应答";
        }
        return std::nullopt;
    }
    return globals;
}

}  // namespace vurin
