#include "platform/wayland/xdg_activation.h"

#include <wayland-client.h>

#include <cstring>
#include <map>

#include "xdg-activation-v1-client-protocol.h"

namespace vurin {

namespace {

struct Binding {
    wl_event_queue* queue = nullptr;
    xdg_activation_v1* activation = nullptr;
};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
    auto& binding = *static_cast<Binding*>(data);
    if (!binding.activation && std::strcmp(interface, xdg_activation_v1_interface.name) == 0) {
        binding.activation = static_cast<xdg_activation_v1*>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
    }
}

void globalRemoved(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistry{.global = global, .global_remove = globalRemoved};

// The global, looked up once per connection (the toolkit keeps one for the process's life).
xdg_activation_v1* activationOf(wl_display* display) {
    static std::map<wl_display*, Binding> bindings;
    const auto [found, added] = bindings.try_emplace(display);
    Binding& binding = found->second;
    if (!added) {
        return binding.activation;
    }
    binding.queue = wl_display_create_queue(display);
    // The registry is made on the private queue from the start: the toolkit's thread that
    // reads the connection never sees its events.
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), binding.queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(registry, &kRegistry, &binding);
    wl_display_roundtrip_queue(display, binding.queue);
    wl_registry_destroy(registry);
    return binding.activation;
}

}  // namespace

bool activateWaylandSurface(wl_display* display, wl_surface* surface, const std::string& token) {
    if (!display || !surface || token.empty()) {
        return false;
    }
    xdg_activation_v1* activation = activationOf(display);
    if (!activation) {
        return false;
    }
    xdg_activation_v1_activate(activation, token.c_str(), surface);
    wl_display_flush(display);
    return true;
}

}  // namespace vurin
