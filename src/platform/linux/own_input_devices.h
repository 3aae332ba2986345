#pragma once

#include <string>

namespace vurin {

// The input devices Vurin itself made (its uinput keyboard), so that nothing here reads its own
// synthetic keys as the user's. A device is known by its kernel name ("input23", what
// UI_GET_SYSNAME answers), and an event node by the device sysfs says it belongs to: a device
// name can be copied by any program, the kernel's cannot. Any thread.
void markOwnInputDevice(const std::string& sysname);

// The kernel name of the device behind an event node ("/dev/input/event5" → "input23"), from
// `sysfs`/class/input/event5/device; empty when sysfs does not say.
std::string inputDeviceOf(const std::string& eventNode, const std::string& sysfs = "/sys");

// Whether `eventNode` belongs to a device that markOwnInputDevice() named.
bool isOwnInputDevice(const std::string& eventNode, const std::string& sysfs = "/sys");

}  // namespace vurin
