#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vurin {

// Display name of a trigger key code, in the interface language: the modifier names for the
// left/right modifiers and Fn, the key-name table for the other macOS codes, the X keysym name
// for a Linux-only key (stored as 10000 + its evdev code), else "键码 N" / "Key code N".
std::string triggerKeyDisplayName(std::int64_t keyCode);

// The settings label written after a detection: "当前:F13 (键码 105)" / "Current: F13 (key
// code 105)".
std::string triggerKeyLabelText(std::int64_t keyCode);

// Names keys that have no macOS code by their evdev code (the platform layer knows the keysym
// names of the current keyboard map). Returns nothing for a code it cannot name. Settable from
// any thread; an empty function removes it.
using EvdevKeyNameLookup = std::function<std::optional<std::string>(int evdevCode)>;
void setEvdevKeyNameLookup(EvdevKeyNameLookup lookup);

}  // namespace vurin
