#pragma once

#include <cstdint>
#include <optional>
#include <set>

namespace vurin {

// The keysyms the compositor's keyboard map types on its first layout, at any level (Shift,
// AltGr), read over a connection of its own from the keymap a seat's keyboard announces (a
// client gets it whatever has the focus). Nothing when there is no compositor, seat or keymap
// within a short time. The desktop types a keysym through the RemoteDesktop portal only when its
// map has it: the others are dropped without a word (measured on GNOME 43 and KDE 5.27).
std::optional<std::set<std::uint32_t>> typeableKeysyms();

}  // namespace vurin
