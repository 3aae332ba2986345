// What one capture of the injection target (the front-most application and its focused element,
// as a paste, its confirmation, send and undo each read it) costs the main thread, in a GTK and
// a Qt window with 5,000 text fields whose focused field is the last one. The reader runs before
// the window opens, as Vurin runs before the user's programs. Run it inside
// scripts/test-session; the first argument changes the number of captures (200 by default).
// Prints the figures; never fails.
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "injection/focus_verification.h"
#include "platform/linux/atspi_focus_reader.h"
#include "platform/x11/focus_reader_x11.h"
#include "support/desktop_program.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kFields = 5000;

// The Qt window, run as a second process of this very program.
int qtWindow() {
    int argc = 1;
    char name[] = "focus_capture_bench";
    char* argv[] = {name, nullptr};
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    qunsetenv("AT_SPI_BUS_ADDRESS");  // Qt 6.4 registers only when it asks the session bus
    QApplication application(argc, argv);
    QScrollArea area;
    auto* fields = new QWidget;
    auto* layout = new QVBoxLayout(fields);
    QLineEdit* last = nullptr;
    for (int index = 0; index < kFields; ++index) {
        layout->addWidget(last = new QLineEdit(QString::number(index)));
    }
    area.setWidget(fields);
    area.resize(400, 300);
    area.show();
    area.activateWindow();
    last->setFocus();
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    QTimer::singleShot(0, [] { std::puts("ready"); });
    return QApplication::exec();
}

std::vector<std::string> gtkWindow(const std::filesystem::path& script) {
    std::ofstream(script) << R"(
import sys, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk, GLib
window, area = Gtk.Window(), Gtk.ScrolledWindow()
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
entries = [Gtk.Entry(text=str(index)) for index in range(int(sys.argv[1]))]
for entry in entries: box.pack_start(entry, False, False, 0)
area.add(box)
window.add(area)
window.set_default_size(400, 300)
window.show_all()
entries[-1].grab_focus()
GLib.idle_add(lambda: print("ready", flush=True) and False)
Gtk.main()
)";
    return {"/usr/bin/python3", script.string(), std::to_string(kFields)};
}

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

void measure(const char* kind, const std::vector<std::string>& argv, int captures) {
    vurin::X11FocusReader reader;
    vurin::testing::DesktopProgram window(argv);
    if (!window.waitForLine("ready", 60s)) {
        std::printf("  %-4s the window did not open\n", kind);
        return;
    }
    const auto started = Clock::now();
    // Until the window is in front and a capture names an element (or 30 s have passed).
    std::optional<vurin::InjectionTarget> first;
    while (Clock::now() - started < 30s) {
        first = vurin::currentInjectionTarget(reader);
        if (first && first->processID == window.pid() && first->focusedElement) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    const double toElement = milliseconds(Clock::now() - started);
    std::vector<double> times;
    int same = 0;
    for (int index = 0; index < captures; ++index) {
        const auto before = Clock::now();
        const auto target = vurin::currentInjectionTarget(reader);
        times.push_back(milliseconds(Clock::now() - before));
        same += target && first && target->focusedElement == first->focusedElement &&
                first->focusedElement;
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "  %-4s capture median %7.2f ms   worst %7.2f ms   same element %d/%d   "
        "first element %.0f ms after the window was up\n",
        kind, times[times.size() / 2], times.back(), same, captures, toElement);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "qt-window") {
        return qtWindow();
    }
    if (!std::getenv("DISPLAY")) {
        std::printf("focus_capture: no X11 display (run it inside scripts/test-session)\n");
        return 0;
    }
    const int captures = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    vurin::enableDesktopAccessibility();
    const auto script = std::filesystem::temp_directory_path() /
                        ("vurin-focus-bench-" + std::to_string(getpid()) + ".py");
    std::printf("focus_capture: %d captures in a window with %d text fields\n", captures, kFields);
    measure("GTK", gtkWindow(script), captures);
    measure("Qt", {std::filesystem::read_symlink("/proc/self/exe").string(), "qt-window"},
            captures);
    std::filesystem::remove(script);
    return 0;
}
