#include "platform/linux/own_input_devices.h"

#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

namespace vurin {

namespace {

std::mutex ownLock;
std::set<std::string> ownDevices;  // guarded by ownLock

}  // namespace

void markOwnInputDevice(const std::string& sysname) {
    const std::lock_guard lock(ownLock);
    ownDevices.insert(sysname);
}

std::string inputDeviceOf(const std::string& eventNode, const std::string& sysfs) {
    const std::string node = std::filesystem::path(eventNode).filename().string();
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(
        std::filesystem::path(sysfs) / "class" / "input" / node / "device", error);
    return error ? std::string() : device.filename().string();
}

bool isOwnInputDevice(const std::string& eventNode, const std::string& sysfs) {
    const std::string device = inputDeviceOf(eventNode, sysfs);
    if (device.empty()) {
        return false;
    }
    const std::lock_guard lock(ownLock);
    return ownDevices.contains(device);
}

}  // namespace vurin
