#include "phone/local_address.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <array>
#include <memory>

namespace vurin {
namespace {

int preferenceRank(const std::string& name) {
    if (name.starts_with("wl")) {
        return 0;
    }
    if (name.starts_with("en") || name.starts_with("eth")) {
        return 1;
    }
    return 2;
}

struct IfaddrsFree {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

std::optional<std::string> chooseLocalIPv4(const std::vector<InterfaceAddress>& candidates) {
    const InterfaceAddress* best = nullptr;
    for (const auto& candidate : candidates) {
        if (!best ||
            preferenceRank(candidate.interfaceName) < preferenceRank(best->interfaceName)) {
            best = &candidate;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    return best->address;
}

std::vector<InterfaceAddress> listLocalIPv4() {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) {
        return {};
    }
    const std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);
    std::vector<InterfaceAddress> found;
    for (const ifaddrs* entry = list.get(); entry; entry = entry->ifa_next) {
        const bool up = (entry->ifa_flags & IFF_UP) != 0;
        const bool loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        if (!up || loopback || !entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        std::array<char, NI_MAXHOST> host{};
        if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host.data(), host.size(), nullptr, 0,
                        NI_NUMERICHOST) != 0) {
            continue;
        }
        found.push_back({entry->ifa_name ? entry->ifa_name : "", host.data()});
    }
    return found;
}

std::optional<std::string> localWiFiIPv4() {
    return chooseLocalIPv4(listLocalIPv4());
}

}  // namespace vurin
