#include "platform/wayland/focus_reader_wayland.h"

#include <unistd.h>

#include <chrono>

#include "platform/linux/atspi_focus_reader.h"
#include "platform/wayland/foreign_toplevel_watch.h"

namespace vurin {

namespace {

// The compositor announces the new active window when it moves the keyboard, and the
// application (over the accessibility bus) when its widget sees it: either may come first.
constexpr auto kActivationSkew = std::chrono::milliseconds(200);

// The compositor lists its windows within a round trip of start-up; a capture made sooner waits
// for that rather than take the accessibility focus alone for the answer.
constexpr auto kFirstListWait = std::chrono::milliseconds(500);
// A round trip to the compositor takes well under a millisecond; a busy machine costs this at
// most.
constexpr auto kFreshWait = std::chrono::milliseconds(100);

}  // namespace

WaylandFocusReader::WaylandFocusReader()
    : atspi_(std::make_unique<AtspiFocusReader>()),
      windows_(std::make_unique<ForeignToplevelWatch>()) {}

WaylandFocusReader::~WaylandFocusReader() = default;

std::optional<FrontApplication> WaylandFocusReader::frontmostApplication() {
    const ForeignToplevelWatch::Reading windows = windows_->read(kFirstListWait, kFreshWait);
    if (windows.following) {
        if (!windows.active) {
            return std::nullopt;
        }
        const ForeignToplevelWatch::Toplevel& window = *windows.active;
        FrontApplication application{.windowID = window.id, .identifiedByWindow = true};
        if (!window.appId.empty()) {
            application.classID = window.appId;
        }
        // The accessibility focus may still be held by an application whose window has gone to
        // the back: only a newer one belongs to this window.
        application.processID = atspi_->focusedProcessSince(window.activatedAt - kActivationSkew);
        if (application.processID > 0) {
            application.name = processName(application.processID);
        }
        if (!application.name) {
            application.name = application.classID;
        }
        return application;
    }
    const int pid = atspi_->focusedProcessSince(std::chrono::steady_clock::time_point::min());
    if (pid <= 0) {
        return std::nullopt;
    }
    FrontApplication application{.processID = pid};
    application.name = processName(pid);
    application.classID = application.name;
    return application;
}

std::optional<AccessibleElementRef> WaylandFocusReader::focusedElement() {
    const auto front = frontmostApplication();
    // Our own elements are served by this very thread, which is waiting here.
    if (!front || front->processID <= 0 || front->processID == getpid()) {
        return std::nullopt;
    }
    return atspi_->focusedElementOf(front->processID);
}

std::optional<std::string> WaylandFocusReader::roleOf(const AccessibleElementRef& element) {
    return atspi_->roleOf(element);
}

std::optional<std::string> WaylandFocusReader::textOf(const AccessibleElementRef& element) {
    return atspi_->textOf(element);
}

std::optional<TextSelectionRange> WaylandFocusReader::selectedRange(
    const AccessibleElementRef& element) {
    return atspi_->selectedRange(element);
}

}  // namespace vurin
