#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vurin {

// Key codes in the configuration stay macOS virtual key codes (105 is F13). Keys a Mac keyboard
// does not have are stored as this offset plus their Linux evdev code.
inline constexpr std::int64_t linuxOnlyKeyCodeBase = 10000;

// The evdev code (X keycode minus 8) of a stored key code, or nothing for a code no Linux key
// has (Fn, unused macOS codes, out-of-range values).
std::optional<int> evdevCodeForKeyCode(std::int64_t keyCode);

// The stored key code of an evdev code: its macOS code when a Mac keyboard has the key, else
// linuxOnlyKeyCodeBase + evdevCode. Nothing for codes outside 1...767 (evdev's KEY_MAX).
std::optional<std::int64_t> keyCodeForEvdevCode(int evdevCode);

// Every (macOS code, evdev code) pair of the mapping, for tests and diagnostics.
struct KeyCodePair {
    std::int64_t macKeyCode;
    int evdevCode;
};
std::span<const KeyCodePair> keyCodePairs();

}  // namespace vurin
