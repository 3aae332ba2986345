#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vurin {

// One up, non-loopback IPv4 address of a network interface.
struct InterfaceAddress {
    std::string interfaceName;
    std::string address;  // dotted quad
};

// The address to show the user for the phone: wireless interfaces (wl*) first, since the phone
// reaches the computer over Wi-Fi, then wired ones (en*, eth*), then any other. Within a kind
// the first listed wins. Nothing for an empty list.
std::optional<std::string> chooseLocalIPv4(const std::vector<InterfaceAddress>& candidates);

// The up, non-loopback IPv4 addresses of this machine in the system's order (getifaddrs).
std::vector<InterfaceAddress> listLocalIPv4();

// chooseLocalIPv4(listLocalIPv4()).
std::optional<std::string> localWiFiIPv4();

}  // namespace vurin
