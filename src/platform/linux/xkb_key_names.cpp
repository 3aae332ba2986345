#include "platform/linux/xkb_key_names.h"

#include <xkbcommon/xkbcommon.h>

#include <array>
#include <memory>

namespace vurin {

namespace {

// XKB key codes are evdev codes plus 8.
constexpr int kEvdevOffset = 8;

struct Keymap {
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    ~Keymap() {
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }
};

// Compiled once: a keymap takes milliseconds to build.
const Keymap& defaultKeymap() {
    static const std::unique_ptr<Keymap> keymap = [] {
        auto made = std::make_unique<Keymap>();
        made->context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (made->context) {
            made->keymap =
                xkb_keymap_new_from_names(made->context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        }
        return made;
    }();
    return *keymap;
}

}  // namespace

std::optional<std::string> xkbKeyName(int evdevCode) {
    const Keymap& map = defaultKeymap();
    if (!map.keymap || evdevCode <= 0) {
        return std::nullopt;
    }
    const xkb_keysym_t* symbols = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(
        map.keymap, static_cast<xkb_keycode_t>(evdevCode + kEvdevOffset), 0, 0, &symbols);
    if (count <= 0 || symbols[0] == XKB_KEY_NoSymbol) {
        return std::nullopt;
    }
    std::array<char, 64> name{};
    if (xkb_keysym_get_name(symbols[0], name.data(), name.size()) <= 0) {
        return std::nullopt;
    }
    return std::string(name.data());
}

}  // namespace vurin
