#include "platform/wayland/focus_reader_wayland.h"

#include <unistd.h>

#include <chrono>

#include "platform/linux/atspi_focus_reader.h"

namespace vurin {

WaylandFocusReader::WaylandFocusReader() : atspi_(std::make_unique<AtspiFocusReader>()) {}

WaylandFocusReader::~WaylandFocusReader() = default;

std::optional<FrontApplication> WaylandFocusReader::frontmostApplication() {
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
    if (!front || front->processID == getpid()) {
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
