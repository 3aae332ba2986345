#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/focus_reader.h"

namespace vurin {

class AtspiFocusTracker;
namespace atspi {
class Connection;
}

// The accessibility half of focus reading, the same whatever draws the windows: which element of
// an application has the focus (from the AT-SPI focus tracker's events), and that element's
// role, text and caret.
//
// Text and caret are read over a private D-Bus connection of the main thread's own that
// subscribes to no events, with a short time-out per call. The header stays free of D-Bus.
class AtspiFocusReader {
  public:
    AtspiFocusReader();
    ~AtspiFocusReader();

    AtspiFocusReader(const AtspiFocusReader&) = delete;
    AtspiFocusReader& operator=(const AtspiFocusReader&) = delete;

    // The focused element of process `pid`; an application not heard from yet is searched,
    // and the caller waits a few milliseconds at most for that search.
    std::optional<AccessibleElementRef> focusedElementOf(int pid);
    // The process that gained the accessibility focus after `since`, 0 when none did.
    int focusedProcessSince(std::chrono::steady_clock::time_point since);

    struct ActiveWindow {
        AccessibleElementRef window;
        int pid = 0;
        std::chrono::steady_clock::time_point since;  // when it was heard of (or found) active
    };
    // The window that is active now among those of applications on the accessibility bus,
    // asked of the window itself (not remembered); nothing when none says so (a program
    // without accessibility, a terminal like kitty or foot, is in front). Vurin's own windows
    // cannot be asked from the main thread: one of them is taken as it was last heard of.
    std::optional<ActiveWindow> activeWindow();
    // Whether `element` has the focus now, asked of it.
    bool focusedNow(const AccessibleElementRef& element);

    std::optional<std::string> roleOf(const AccessibleElementRef& element);
    std::optional<std::string> textOf(const AccessibleElementRef& element);
    std::optional<TextSelectionRange> selectedRange(const AccessibleElementRef& element);

    // Whether the reader is connected to the accessibility bus now.
    bool available();

  private:
    atspi::Connection* calls();

    std::unique_ptr<AtspiFocusTracker> tracker_;
    std::unique_ptr<atspi::Connection> calls_;
};

// The program's own name of a process (/proc/PID/comm).
std::optional<std::string> processName(int pid);

// Asks the session's accessibility bus to switch accessibility on, so that Qt applications
// (which stay off the bus otherwise) expose their text fields; GTK applications always do.
// Returns false when there is no session bus or no accessibility bus to ask. Call once at
// start-up, before reading focus; it waits at most about a second.
bool enableDesktopAccessibility();

// Whether the accessibility bus that focus reading uses can be reached now: a private
// connection is opened and closed again. Waits half a second at most for the session bus.
bool accessibilityBusReachable();

}  // namespace vurin
