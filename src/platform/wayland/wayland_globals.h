#pragma once

#include <optional>
#include <set>
#include <string>

namespace vurin {

// The compositor's globals (the protocols it offers by interface name), read once over a
// connection of its own that is closed again. Nothing when no compositor answers at
// WAYLAND_DISPLAY; `error` then says why.
struct WaylandGlobals {
    std::set<std::string> interfaces;
    bool offers(const std::string& interface) const { return interfaces.contains(interface); }
};

std::optional<WaylandGlobals> readWaylandGlobals(std::string* error = nullptr);

}  // namespace vurin
