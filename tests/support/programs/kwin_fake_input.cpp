// Keys into KWin as real input, through its fake-input protocol, for the kde tests. KWin offers
// org_kde_kwin_fake_input only to a program that a desktop file names in Exec (resolved to the
// path of /proc/PID/exe) with the interface in X-KDE-Wayland-Interfaces: the fixture writes one.
// Prints "ready" once bound, then reads lines "CODE 1|0" (an evdev key code pressed or released)
// and prints "ok" for each once KWin has taken it.
#include <wayland-client.h>

#include <cstdio>
#include <cstring>

#include "fake-input-client-protocol.h"

namespace {

org_kde_kwin_fake_input* fakeInput = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4) {
        fakeInput = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
    }
}

void globalRemoved(void*, wl_registry*, uint32_t) {}

}  // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fputs("kwin_fake_input: no Wayland display\n", stderr);
        return 1;
    }
    const wl_registry_listener listener{global, globalRemoved};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
    wl_display_roundtrip(display);
    if (!fakeInput) {
        std::fputs("kwin_fake_input: KWin does not offer fake input (version 4) to us\n", stderr);
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fakeInput, "Vurin tests", "real keys for the kde tests");
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    std::puts(wl_display_roundtrip(display) < 0 ? "failed" : "ready");
    for (unsigned code = 0, pressed = 0; std::scanf("%u %u", &code, &pressed) == 2;) {
        org_kde_kwin_fake_input_keyboard_key(fakeInput, code, pressed);
        if (wl_display_roundtrip(display) < 0) {
            return 1;
        }
        std::puts("ok");
    }
    wl_display_disconnect(display);
    return 0;
}
