#pragma once
// Other applications for the desktop tests as real processes (xterm, a GTK window with entries,
// a Qt line edit, a clipboard owner and reader), and waiting while the test process's Qt
// application serves the clipboard.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <fstream>
#include <memory>

#include "platform/clipboard.h"
#include "platform/focus_reader.h"
#include "support/desktop_program.h"
#include "support/private_files.h"
#include "support/qt_widgets_testing.h"
#include "support/testing.h"

namespace vurin::testing {

// Waits for `done`, running the test process's events meanwhile (it may own the clipboard that
// others are reading).
inline bool serveUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return eventually(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return done();
        },
        limit);
}

inline bool waitUntilFront(FocusReader& reader, pid_t pid) {
    return serveUntil(
        [&] {
            auto front = reader.frontmostApplication();
            return front && front->processID == pid;
        },
        std::chrono::seconds(10));
}

inline std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return file ? std::optional(std::string(std::istreambuf_iterator<char>(file), {}))
                : std::nullopt;
}

inline std::unique_ptr<DesktopProgram> startReady(const std::vector<std::string>& argv) {
    auto program = std::make_unique<DesktopProgram>(argv);
    return program->waitForLine("ready") ? std::move(program) : nullptr;
}

// A GTK 3 window with one entry per text. The first entry has the focus, with the caret at its
// end or the selection `select` ("start,end" in characters as GTK counts them); it is packed
// last, so a walk of the window's tree meets it last.
inline std::unique_ptr<DesktopProgram> startGtkEntries(const ScratchFolder& folder,
                                                       const std::vector<std::string>& texts,
                                                       const std::string& select = "") {
    const auto script = folder / "entries.py";
    std::ofstream(script) << R"(
import sys, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk, GLib
Gtk.Settings.get_default().set_property("gtk-entry-select-on-focus", False)
window, box = Gtk.Window(), Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
entries = [Gtk.Entry(text=text) for text in sys.argv[2:]]
for entry in reversed(entries): box.pack_start(entry, False, False, 0)
window.add(box)
window.show_all()
entries[0].grab_focus()
if sys.argv[1]: entries[0].select_region(*map(int, sys.argv[1].split(",")))
else: entries[0].set_position(-1)
GLib.idle_add(lambda: print("ready", flush=True) and False)
Gtk.main()
)";
    std::vector<std::string> argv = {"/usr/bin/python3", script.string(), select};
    argv.insert(argv.end(), texts.begin(), texts.end());
    return startReady(argv);
}

// A Qt window with one line edit holding `text`, caret at the end (Qt counts UTF-16 units).
inline std::unique_ptr<DesktopProgram> startQtField(const std::string& text) {
    return startReady({VURIN_QT_DESKTOP_HELPER, "field", text});
}

inline std::unique_ptr<DesktopProgram> startXterm(const std::string& shellCommand) {
    auto program = std::make_unique<DesktopProgram>(
        std::vector<std::string>{"xterm", "-geometry", "80x10", "-e", "sh", "-c", shellCommand});
    return program->started() ? std::move(program) : nullptr;
}

inline const char* selectionName(ClipboardSelection selection) {
    return selection == ClipboardSelection::primary ? "primary" : "clipboard";
}

// Another application copies: it owns the selection with these formats until it goes.
inline std::unique_ptr<DesktopProgram> foreignCopy(
    ClipboardSelection selection, const std::vector<std::pair<std::string, std::string>>& values) {
    std::vector<std::string> argv = {VURIN_QT_DESKTOP_HELPER, "own", selectionName(selection)};
    for (const auto& [format, bytes] : values) {
        argv.push_back(format);
        argv.push_back(QByteArray::fromStdString(bytes).toHex().toStdString());
    }
    return startReady(argv);
}

// What another application reads from the selection in `format` (absent: not offered).
inline std::optional<std::string> foreignPaste(const ScratchFolder& folder,
                                               ClipboardSelection selection,
                                               const std::string& format) {
    static int pastes = 0;
    const auto out = folder / ("paste-" + std::to_string(++pastes));
    DesktopProgram reader(
        {VURIN_QT_DESKTOP_HELPER, "dump", selectionName(selection), format, out.string()});
    std::optional<int> status;
    EXPECT_TRUE(serveUntil([&] { return (status = reader.exitStatus()).has_value(); },
                           std::chrono::seconds(15)) &&
                *status == 0)
        << "the reading program failed";
    return readFile(out);
}

}  // namespace vurin::testing
