#include "platform/wayland/keyboard_keymap.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/wayland/wayland_roundtrip.h"

namespace vurin {

namespace {

constexpr auto kAnswerWait = std::chrono::milliseconds(500);

struct Found {
    wl_seat* seat = nullptr;
    std::optional<std::set<std::uint32_t>> keysyms;
};

std::set<std::uint32_t> keysymsOf(xkb_keymap* keymap) {
    std::set<std::uint32_t> keysyms;
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= xkb_keymap_max_keycode(keymap);
         ++key) {
        for (xkb_level_index_t level = 0; level < xkb_keymap_num_levels_for_key(keymap, key, 0);
             ++level) {
            const xkb_keysym_t* syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(keymap, key, 0, level, &syms);
            keysyms.insert(syms, syms + count);
        }
    }
    return keysyms;
}

void keymapArrived(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
    auto* found = static_cast<Found*>(data);
    void* mapped = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1
                       ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                       : MAP_FAILED;
    close(fd);
    if (mapped == MAP_FAILED) {
        return;
    }
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap =
        context ? xkb_keymap_new_from_buffer(context, static_cast<const char*>(mapped),
                                             strnlen(static_cast<const char*>(mapped), size),
                                             XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS)
                : nullptr;
    munmap(mapped, size);
    if (keymap) {
        found->keysyms = keysymsOf(keymap);
        xkb_keymap_unref(keymap);
    }
    if (context) {
        xkb_context_unref(context);
    }
}

void ignoreEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void ignoreLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void ignoreKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void ignoreModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                     std::uint32_t, std::uint32_t) {}
void ignoreRepeat(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

const wl_keyboard_listener kKeyboardListener{.keymap = keymapArrived,
                                             .enter = ignoreEnter,
                                             .leave = ignoreLeave,
                                             .key = ignoreKey,
                                             .modifiers = ignoreModifiers,
                                             .repeat_info = ignoreRepeat};

void addGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t version) {
    auto* found = static_cast<Found*>(data);
    if (!found->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        found->seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5U)));
    }
}

void removeGlobal(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener{.global = addGlobal, .global_remove = removeGlobal};

}  // namespace

std::optional<std::set<std::uint32_t>> typeableKeysyms() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return std::nullopt;
    }
    Found found;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &found);
    wl_keyboard* keyboard = nullptr;
    // The seat's capabilities come before the keyboard may be asked for; the keymap follows it.
    if (roundtripWithin(display, kAnswerWait) && found.seat) {
        keyboard = wl_seat_get_keyboard(found.seat);
        wl_keyboard_add_listener(keyboard, &kKeyboardListener, &found);
        roundtripWithin(display, kAnswerWait);
    }
    if (keyboard) {
        wl_keyboard_destroy(keyboard);
    }
    if (found.seat) {
        wl_seat_destroy(found.seat);
    }
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found.keysyms;
}

}  // namespace vurin
