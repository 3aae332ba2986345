// How quickly a press reaches the gesture engine on the main thread in a Wayland session, by the
// two paths a desktop offers (run it inside scripts/test-session, which has the real
// xdg-desktop-portal with a stand-in desktop behind it):
//   binding: the compositor runs `vurin --trigger press` (the real executable), which calls the
//            running process over the session bus; timed from the command's start.
//   portal:  the desktop's global shortcut; the stand-in desktop is told to press over a
//            connection of its own, timed from that call leaving this process (so it holds the
//            stand-in's emission and the portal frontend's relay; the control call's own round
//            trip is printed beside it for scale).
// Either way the clock stops when the engine's key event runs on the Qt main thread, where the
// gesture is decided.
// Inside the kde session of scripts/test-session (start DIR kde, source DIR/env) it measures the
// real KDE Plasma instead: F13 pressed and released through KWin's fake input, the global
// shortcut KDE registers for the program (in a launcher's app scope), its portal's Activated and
// Deactivated; timed from the key's write to KWin. Prints; never fails.
#include <gio/gio.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "input/gesture_engine.h"
#include "input/wayland_trigger_capture.h"
#include "platform/linux/global_shortcuts_portal.h"
#include "platform/linux/xkb_key_names.h"
#ifdef VURIN_BENCH_DESKTOP_FIXTURES  // built with the kde tests' fixtures (plasma protocols)
#include "support/kde_session.h"
#endif
#include "ui/qt/qt_main_queue.h"
#include "ui/qt/trigger_bus_service.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPresses = 100;

// The Qt main queue, noting when each block it was handed has run: in this program only the
// trigger deliveries are handed to it while a press is timed.
class TimedQueue : public vurin::QtMainQueue {
  public:
    using QtMainQueue::QtMainQueue;
    std::mutex mutex;
    std::condition_variable ran;
    std::vector<Clock::time_point> runs;

  protected:
    void enqueue(std::function<void()> block) override {
        QtMainQueue::enqueue([this, block = std::move(block)] {
            block();
            std::lock_guard guard(mutex);
            runs.push_back(Clock::now());
            ran.notify_all();
        });
    }
};

void printFigures(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("  %-40s nothing arrived\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("  %-40s median %6.2f ms   p95 %6.2f ms   max %6.2f ms   (%zu)\n", what,
                values[values.size() / 2], values[values.size() * 95 / 100], values.back(),
                values.size());
}

double msSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Times `press` (which makes one key event happen) to the main thread's run of the delivery.
std::vector<double> timePresses(TimedQueue& queue, const std::function<bool(bool down)>& press) {
    std::vector<double> figures;
    for (int index = 0; index < 2 * kPresses; ++index) {
        std::size_t before = 0;
        {
            std::lock_guard guard(queue.mutex);
            before = queue.runs.size();
        }
        const auto sent = Clock::now();
        if (!press(index % 2 == 0)) {
            continue;
        }
        std::unique_lock lock(queue.mutex);
        if (queue.ran.wait_for(lock, 2s, [&] { return queue.runs.size() > before; })) {
            figures.push_back(msSince(sent, queue.runs[before]));
        }
    }
    return figures;
}

bool runTriggerCommand(bool down) {
    const char* argv[] = {VURIN_EXECUTABLE, "--trigger", down ? "press" : "release", nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, VURIN_EXECUTABLE, nullptr, nullptr, const_cast<char**>(argv), environ) !=
        0) {
        return false;
    }
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool tellDesktop(GDBusConnection* bus, bool down, std::vector<double>& roundTrips) {
    const auto sent = Clock::now();
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.impl.portal.desktop.vurintest", "/com/vurin/test/GlobalShortcuts",
        "com.vurin.test.GlobalShortcuts", down ? "Activate" : "Deactivate",
        g_variant_new("(s)", vurin::GlobalShortcuts::shortcutId), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, nullptr);
    roundTrips.push_back(msSince(sent, Clock::now()));
    guint32 signalled = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &signalled);
        g_variant_unref(reply);
    }
    return signalled > 0;
}

// A capture of one source, its engine, and the figures of `press`, measured off the main thread.
void measure(QCoreApplication& application, const char* title,
             std::shared_ptr<vurin::GlobalShortcuts> shortcuts,
             const std::function<bool(bool down)>& press, const std::function<void()>& extra = {}) {
    auto queue = std::make_shared<TimedQueue>(&application);
    auto engine = vurin::GestureEngine::create(queue);
    auto capture = vurin::WaylandTriggerCapture::create(
        queue, {.shortcuts = std::move(shortcuts), .keyName = vurin::xkbKeyName});
    capture->setEngine(engine);
    capture->setBindingAvailable(true);
    capture->setupEventTap();
    vurin::TriggerBusService bus;
    bus.setHandlers(
        {.deliver = [capture](bool down, double at) { capture->bindingEvent(down, at); },
         .command = [](vurin::TriggerCommand, double) {},
         .present = [](const vurin::StartupTokens&) {}});
    bus.registerOnSessionBus();
    std::vector<double> figures;
    std::thread presser([&] {
        const auto deadline = Clock::now() + 10s;
        while (capture->activePath() == vurin::WaylandTriggerCapture::Path::none &&
               Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        figures = timePresses(*queue, press);
        QMetaObject::invokeMethod(&application, [] { QCoreApplication::quit(); });
    });
    QCoreApplication::exec();
    presser.join();
    capture->stop();
    std::printf("%s (%d presses and releases):\n", title, kPresses);
    printFigures("press or release -> engine on main thread", figures);
    if (extra) {
        extra();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
#ifdef VURIN_BENCH_DESKTOP_FIXTURES
    if (const char* desktop = std::getenv("VURIN_TEST_DESKTOP");
        desktop && desktop == std::string("kde")) {
        vurin::testing::KdeSession kde;
        if (!vurin::testing::DesktopSession::enterAppScope("com.vurin.app")) {
            std::printf("trigger_paths: could not enter the app scope\n");
            return 0;
        }
        measure(application, "KDE global shortcut (real portal, KWin fake input)",
                std::make_shared<vurin::GlobalShortcutsPortal>(),
                [&](bool down) { return kde.key(183, down); });
        return 0;
    }
#endif
    measure(application, "compositor binding (vurin --trigger)", nullptr, runTriggerCommand);

    GDBusConnection* control = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    std::vector<double> roundTrips;
    measure(
        application, "desktop global shortcut (portal)",
        std::make_shared<vurin::GlobalShortcutsPortal>(),
        [&](bool down) { return control && tellDesktop(control, down, roundTrips); },
        [&] { printFigures("control call round trip alone", roundTrips); });
    if (control) {
        g_object_unref(control);
    }
    return 0;
}
