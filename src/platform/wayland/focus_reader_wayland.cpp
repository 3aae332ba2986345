#include "platform/wayland/focus_reader_wayland.h"

#include <unistd.h>

#include <chrono>
#include <functional>

#include "platform/linux/atspi_focus_reader.h"
#include "platform/wayland/foreign_toplevel_watch.h"

namespace vurin {

namespace {

// The compositor announces the new active window when it moves the keyboard, and the
// application's window (over the accessibility bus) when its toolkit sees it: either may come
// first.
constexpr auto kActivationSkew = std::chrono::milliseconds(200);

// The compositor lists its windows within a round trip of start-up; a capture made sooner waits
// for that rather than take the accessibility bus alone for the answer.
constexpr auto kFirstListWait = std::chrono::milliseconds(500);
// A round trip to the compositor takes well under a millisecond; a busy machine costs this at
// most.
constexpr auto kFreshWait = std::chrono::milliseconds(100);

// Windows of one program told apart where the compositor names none: by their accessible
// object, which lives as long as the window.
std::uint64_t windowIdOf(const AccessibleElementRef& window) {
    const std::uint64_t id = std::hash<std::string>{}(window.busName + '\n' + window.objectPath);
    return id == 0 ? 1 : id;
}

}  // namespace

WaylandFocusReader::WaylandFocusReader()
    : atspi_(std::make_unique<AtspiFocusReader>()),
      windows_(std::make_unique<ForeignToplevelWatch>()) {}

WaylandFocusReader::~WaylandFocusReader() = default;

std::optional<FrontApplication> WaylandFocusReader::frontmostApplication() {
    const ForeignToplevelWatch::Reading windows = windows_->read(kFirstListWait, kFreshWait);
    const std::optional<AtspiFocusReader::ActiveWindow> accessible = atspi_->activeWindow();
    if (windows.following) {
        if (!windows.active) {
            return std::nullopt;
        }
        const ForeignToplevelWatch::Toplevel& window = *windows.active;
        FrontApplication application{.windowID = window.id, .identifiedByWindow = true};
        if (!window.appId.empty()) {
            application.classID = window.appId;
        }
        // A window that became active on the accessibility bus well before this one did on the
        // compositor is the one that was in front before, still saying so for a moment.
        if (accessible && accessible->since >= window.activatedAt - kActivationSkew) {
            application.processID = accessible->pid;
            application.name = processName(accessible->pid);
        }
        if (!application.name) {
            application.name = application.classID;
        }
        return application;
    }
    if (!accessible || accessible->pid <= 0) {
        return FrontApplication{.name = "无法识别的窗口", .unverifiable = true};
    }
    FrontApplication application{.processID = accessible->pid,
                                 .windowID = windowIdOf(accessible->window)};
    application.name = processName(accessible->pid);
    application.classID = application.name;
    return application;
}

std::optional<AccessibleElementRef> WaylandFocusReader::focusedElement() {
    const auto front = frontmostApplication();
    // Our own elements are served by this very thread, which is waiting here.
    if (!front || front->processID <= 0 || front->processID == getpid()) {
        return std::nullopt;
    }
    // The element the application last said had the focus, if it still has it now.
    const auto element = atspi_->focusedElementOf(front->processID);
    if (!element || !atspi_->focusedNow(*element)) {
        return std::nullopt;
    }
    return element;
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
