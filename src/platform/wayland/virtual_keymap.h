#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vurin {

// The keymap a virtual keyboard uploads: a few fixed keys on their usual evdev codes (so that
// programs reading key codes see the keys they expect), and any other keysym on a spare code
// when text needs it. Codes stay within the X-compatible range (evdev 1..247).
class VirtualKeymap {
  public:
    struct Key {
        std::uint32_t keysym;
        std::uint32_t evdevCode;
    };
    explicit VirtualKeymap(std::vector<Key> fixed);

    // The evdev code that carries `keysym`, if the keymap has it.
    std::optional<std::uint32_t> codeOf(std::uint32_t keysym) const;
    // Puts `keysym` on a spare code; false when every code is taken.
    bool add(std::uint32_t keysym);
    // Back to the fixed keys alone.
    void clearAdded();
    // XKB keymap text (xkb_keymap_new_from_string accepts it).
    std::string text() const;

  private:
    std::vector<Key> fixed_;
    std::map<std::uint32_t, std::uint32_t> codes_;  // keysym -> evdev code
    std::uint32_t nextSpare_ = 1;
};

}  // namespace vurin
