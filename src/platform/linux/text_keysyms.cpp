#include "platform/linux/text_keysyms.h"

#include <unicode/utf8.h>
#include <xkbcommon/xkbcommon.h>

#include "support/text.h"

namespace vurin {

std::optional<std::vector<std::uint32_t>> keysymsForText(const std::string& text) {
    if (!isValidUTF8(text)) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> keysyms;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t offset = 0; offset < length;) {
        UChar32 point = 0;
        U8_NEXT(bytes, offset, length, point);
        xkb_keysym_t keysym = XKB_KEY_NoSymbol;
        if (point == '\n' || point == '\r') {
            keysym = XKB_KEY_Return;
        } else if (point == '\t') {
            keysym = XKB_KEY_Tab;
        } else if (point >= 0x20 && point != 0x7F) {
            keysym = xkb_utf32_to_keysym(static_cast<std::uint32_t>(point));
        }
        if (keysym == XKB_KEY_NoSymbol) {
            return std::nullopt;
        }
        keysyms.push_back(keysym);
    }
    return keysyms;
}

}  // namespace vurin
