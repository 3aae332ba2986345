#include "platform/wayland/virtual_keymap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>

namespace vurin {

namespace {

// Xwayland and X11-minded clients take keycodes up to 255 (evdev code + 8).
constexpr std::uint32_t kLastCode = 247;

std::string keysymName(std::uint32_t keysym) {
    char name[64] = {};
    xkb_keysym_get_name(keysym, name, sizeof name);
    return name;
}

}  // namespace

VirtualKeymap::VirtualKeymap(std::vector<Key> fixed) : fixed_(std::move(fixed)) {
    clearAdded();
}

std::optional<std::uint32_t> VirtualKeymap::codeOf(std::uint32_t keysym) const {
    const auto found = codes_.find(keysym);
    return found == codes_.end() ? std::nullopt : std::optional(found->second);
}

bool VirtualKeymap::add(std::uint32_t keysym) {
    if (codes_.contains(keysym)) {
        return true;
    }
    const auto taken = [this](std::uint32_t code) {
        return std::any_of(codes_.begin(), codes_.end(),
                           [code](const auto& entry) { return entry.second == code; });
    };
    while (nextSpare_ <= kLastCode && taken(nextSpare_)) {
        ++nextSpare_;
    }
    if (nextSpare_ > kLastCode) {
        return false;
    }
    codes_[keysym] = nextSpare_++;
    return true;
}

void VirtualKeymap::clearAdded() {
    codes_.clear();
    for (const Key& key : fixed_) {
        codes_[key.keysym] = key.evdevCode;
    }
    nextSpare_ = 1;
}

std::string VirtualKeymap::text() const {
    std::string keycodes, symbols;
    for (const auto& [keysym, code] : codes_) {
        const std::string name = "<K" + std::to_string(code) + ">";
        keycodes += "    " + name + " = " + std::to_string(code + 8) + ";\n";
        symbols += "    key " + name + " { [ " + keysymName(keysym) + " ] };\n";
        if (keysym == XKB_KEY_Control_L || keysym == XKB_KEY_Shift_L) {
            symbols += std::string("    modifier_map ") +
                       (keysym == XKB_KEY_Control_L ? "Control" : "Shift") + " { " + name + " };\n";
        }
    }
    return "xkb_keymap {\n  xkb_keycodes \"vurin\" {\n    minimum = 8;\n    maximum = 255;\n" +
           keycodes +
           "  };\n  xkb_types \"vurin\" { include \"complete\" };\n"
           "  xkb_compatibility \"vurin\" { include \"complete\" };\n"
           "  xkb_symbols \"vurin\" {\n" +
           symbols + "  };\n};\n";
}

}  // namespace vurin
