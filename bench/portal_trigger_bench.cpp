// How quickly a press of a key the desktop bound through the GlobalShortcuts portal reaches
// GlobalShortcutsPortal's onTrigger (run it inside scripts/test-session, which has the real
// xdg-desktop-portal with a stand-in desktop behind it). The stand-in is told to press over a
// connection of its own; the time runs from that call leaving this process to onTrigger running
// on the portal thread, so it holds the stand-in's emission and the portal frontend's relay.
// The control call's own round trip is printed beside it for scale. Prints; never fails.
#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/linux/global_shortcuts_portal.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPresses = 200;

struct Observed {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<vurin::PortalStartResult> started;
    std::vector<std::pair<bool, Clock::time_point>> triggers;
};

void printFigures(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("  %-36s nothing arrived\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("  %-36s median %6.3f ms   p95 %6.3f ms   max %6.3f ms   (%zu)\n", what,
                values[values.size() / 2], values[values.size() * 95 / 100], values.back(),
                values.size());
}

// The stand-in desktop presses (Activate) or releases (Deactivate) our shortcut.
bool tellDesktop(GDBusConnection* bus, const char* method) {
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.impl.portal.desktop.vurintest", "/com/vurin/test/GlobalShortcuts",
        "com.vurin.test.GlobalShortcuts", method,
        g_variant_new("(s)", vurin::GlobalShortcutsPortal::shortcutId), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, nullptr);
    guint32 signalled = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &signalled);
        g_variant_unref(reply);
    }
    return signalled > 0;
}

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main() {
    Observed observed;
    vurin::GlobalShortcutsPortal portal;
    vurin::GlobalShortcutsPortal::Handlers handlers;
    handlers.onStarted = [&](const vurin::PortalStartResult& result) {
        std::lock_guard guard(observed.mutex);
        observed.started = result;
        observed.changed.notify_all();
    };
    handlers.onTrigger = [&](bool down) {
        const auto now = Clock::now();
        std::lock_guard guard(observed.mutex);
        observed.triggers.emplace_back(down, now);
        observed.changed.notify_all();
    };
    portal.start("F13", "Dictate", handlers);
    {
        std::unique_lock lock(observed.mutex);
        observed.changed.wait_for(lock, 10s, [&] { return observed.started.has_value(); });
        if (!observed.started || observed.started->status != vurin::PortalStatus::bound) {
            std::printf("portal trigger: no bound shortcut (%s)\n",
                        observed.started ? observed.started->reason.c_str() : "no answer in 10 s");
            return 0;
        }
    }

    GDBusConnection* control = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    std::vector<double> downs, ups, roundTrips;
    int lost = 0;
    for (int press = 0; press < kPresses && control; ++press) {
        for (const bool down : {true, false}) {
            std::size_t before = 0;
            {
                std::lock_guard guard(observed.mutex);
                before = observed.triggers.size();
            }
            const auto sent = Clock::now();
            const bool signalled = tellDesktop(control, down ? "Activate" : "Deactivate");
            roundTrips.push_back(msBetween(sent, Clock::now()));
            std::unique_lock lock(observed.mutex);
            if (!signalled || !observed.changed.wait_for(
                                  lock, 2s, [&] { return observed.triggers.size() > before; })) {
                ++lost;
                continue;
            }
            const auto& [wasDown, at] = observed.triggers[before];
            if (wasDown != down) {
                ++lost;
                continue;
            }
            (down ? downs : ups).push_back(msBetween(sent, at));
        }
    }
    portal.stop();
    std::printf("portal trigger (stand-in desktop through xdg-desktop-portal, %d presses):\n",
                kPresses);
    printFigures("Activate sent -> onTrigger(true)", downs);
    printFigures("Deactivate sent -> onTrigger(false)", ups);
    printFigures("control call round trip", roundTrips);
    std::printf("  lost or out of order: %d\n", lost);
    if (control) {
        g_object_unref(control);
    }
    return 0;
}
