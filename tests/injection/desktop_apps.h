#pragma once
// Shared by the injection desktop tests: the Qt application of the test process, waiting while
// it serves the clipboard, and the other applications (xterm, a GTK window with entries, a Qt
// line edit, a clipboard owner) as real processes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clipboard.h"
#include "platform/focus_reader.h"
#include "support/desktop_program.h"
#include "support/qt_widgets_testing.h"

#ifndef VURIN_QT_DESKTOP_HELPER
#error "VURIN_QT_DESKTOP_HELPER must name the helper program (set in cmake/Tests.cmake)"
#endif

namespace vurin::testing {

// Runs the test process's events (it may own the clipboard others are reading) until `done`
// holds or the time is up.
inline bool serveUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        if (QCoreApplication::instance()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void serveFor(std::chrono::milliseconds time) {
    serveUntil([] { return false; }, time);
}

// Serves until the program `pid` owns the active window, for 10 seconds at most.
inline bool waitUntilFront(FocusReader& reader, pid_t pid) {
    return serveUntil(
        [&] {
            auto front = reader.frontmostApplication();
            return front && front->processID == pid;
        },
        std::chrono::seconds(10));
}

// A folder of the test's own, removed afterwards.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vurin-inject-XXXXXX").string();
        if (mkdtemp(pattern.data())) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    std::filesystem::path write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path_ / name, std::ios::binary) << bytes;
        return path_ / name;
    }

  private:
    std::filesystem::path path_;
};

inline std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A GTK 3 window with one entry per text (GTK applications are always on the accessibility
// bus). The first entry has the focus with the caret at its end, or with the selection
// [selectStart, selectEnd) counted in characters as GTK counts them.
inline std::unique_ptr<DesktopProgram> startGtkEntries(const ScratchFolder& folder,
                                                       const std::vector<std::string>& texts,
                                                       std::optional<int> selectStart = {},
                                                       std::optional<int> selectEnd = {}) {
    const auto script = folder.write("entries.py", R"(
import sys
import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk, GLib
select = sys.argv[1]
texts = sys.argv[2:]
Gtk.Settings.get_default().set_property("gtk-entry-select-on-focus", False)
window = Gtk.Window(title="vurin test entries")
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
window.add(box)
entries = []
for text in texts:
    entry = Gtk.Entry()
    entry.set_text(text)
    box.pack_start(entry, False, False, 0)
    entries.append(entry)
window.connect("destroy", Gtk.main_quit)
window.show_all()
entries[0].grab_focus()
if select:
    start, end = (int(part) for part in select.split(","))
    entries[0].select_region(start, end)
else:
    entries[0].set_position(-1)
GLib.idle_add(lambda: print("ready", flush=True) and False)
Gtk.main()
)");
    std::vector<std::string> argv = {
        "/usr/bin/python3", script.string(),
        selectStart ? std::to_string(*selectStart) + "," + std::to_string(selectEnd.value_or(0))
                    : std::string()};
    argv.insert(argv.end(), texts.begin(), texts.end());
    auto program = std::make_unique<DesktopProgram>(argv);
    if (!program->waitForLine("ready")) {
        return nullptr;
    }
    return program;
}

// A Qt window with one line edit holding `text`, caret at the end (Qt counts UTF-16 units).
inline std::unique_ptr<DesktopProgram> startQtField(const std::string& text) {
    auto program = std::make_unique<DesktopProgram>(
        std::vector<std::string>{VURIN_QT_DESKTOP_HELPER, "field", text});
    if (!program->waitForLine("ready")) {
        return nullptr;
    }
    return program;
}

// An xterm running `command` through sh.
inline std::unique_ptr<DesktopProgram> startXterm(const std::string& command) {
    auto program = std::make_unique<DesktopProgram>(
        std::vector<std::string>{"xterm", "-geometry", "80x10", "-e", "sh", "-c", command});
    return program->started() ? std::move(program) : nullptr;
}

// Another application copies: it owns the selection with these formats until it goes.
inline std::unique_ptr<DesktopProgram> foreignCopy(
    const ScratchFolder& folder, ClipboardSelection selection,
    const std::vector<std::pair<std::string, std::string>>& values) {
    static int copies = 0;
    std::vector<std::string> argv = {
        VURIN_QT_DESKTOP_HELPER, "own",
        selection == ClipboardSelection::primary ? "primary" : "clipboard"};
    for (const auto& [format, bytes] : values) {
        argv.push_back(format);
        argv.push_back(folder.write("copied-" + std::to_string(++copies), bytes).string());
    }
    auto owner = std::make_unique<DesktopProgram>(argv);
    return owner->waitForLine("ready") ? std::move(owner) : nullptr;
}

// What another application reads from the selection in `format` (absent: not offered).
// The test process serves the request meanwhile, since it may be the owner.
inline std::optional<std::string> foreignPaste(const ScratchFolder& folder,
                                               ClipboardSelection selection,
                                               const std::string& format) {
    static int pastes = 0;
    const auto out = folder / ("paste-" + std::to_string(++pastes));
    DesktopProgram reader({VURIN_QT_DESKTOP_HELPER, "dump",
                           selection == ClipboardSelection::primary ? "primary" : "clipboard",
                           format, out.string()});
    std::optional<int> status;
    if (!serveUntil([&] { return (status = reader.exitStatus()).has_value(); },
                    std::chrono::seconds(15)) ||
        *status != 0) {
        ADD_FAILURE() << "the reading program failed";
        return std::nullopt;
    }
    return readFile(out);
}

}  // namespace vurin::testing
