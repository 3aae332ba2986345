#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "injection/injection_target.h"

namespace vurin {

// The application whose window is active on the desktop.
struct FrontApplication {
    // The program's own name, when the desktop tells one.
    std::optional<std::string> name;
    // A stable identifier of the application kind (the X11 WM_CLASS class, e.g. "XTerm").
    std::optional<std::string> classID;
    int processID = 0;
    // The active window itself (the X11 window id): two windows of one program tell apart.
    std::uint64_t windowID = 0;
    // The desktop names windows but never their processes (a Wayland compositor): the window and
    // its class identify the application, and the process is 0 unless the accessibility bus told
    // it. Elsewhere a window without a process is one Vurin cannot check.
    bool identifiedByWindow = false;
    // Nothing tells which window is in front (a desktop that names windows only over the
    // accessibility bus, with a program in front that has no accessibility, such as kitty): a
    // paste may go there, but no later check can confirm that it is still the same window.
    bool unverifiable = false;
};

// A text field's caret or selection, in UTF-16 code units whatever the toolkit counts in.
struct TextSelectionRange {
    long location = 0;
    long length = 0;
};

// Reads the desktop's focus: the front-most application and the focused accessible element.
// Every call is made on the main thread and must return promptly even when the application
// that owns the element hangs.
class FocusReader {
  public:
    virtual ~FocusReader() = default;
    virtual std::optional<FrontApplication> frontmostApplication() = 0;
    // Absent when there is no focused element or the accessibility bus cannot tell.
    virtual std::optional<AccessibleElementRef> focusedElement() = 0;
    virtual std::optional<std::string> roleOf(const AccessibleElementRef& element) = 0;
    // The element's whole text, when it exposes one.
    virtual std::optional<std::string> textOf(const AccessibleElementRef& element) = 0;
    // The element's selection, or a zero-length range at the caret when nothing is selected.
    virtual std::optional<TextSelectionRange> selectedRange(
        const AccessibleElementRef& element) = 0;
};

}  // namespace vurin
