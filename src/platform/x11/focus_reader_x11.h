#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/focus_reader.h"

namespace vurin {

class X11Connection;
class AtspiFocusReader;

// FocusReader on X11: the front-most application from EWMH (_NET_ACTIVE_WINDOW, its
// _NET_WM_PID, else the X-Resource extension's client pid, else the application that gained the
// accessibility focus since a reading first found the window active; WM_CLASS; the name from
// /proc/PID/comm), the focused element, its text and caret from AT-SPI. A capture costs the main
// thread a few X11 requests and a look-up, at most a short wait for the first search of an
// application not heard from yet. The header stays free of Xlib, whose macros clash with others'.
class X11FocusReader : public FocusReader {
  public:
    // `displayName` empty: $DISPLAY. Main thread only.
    explicit X11FocusReader(std::string displayName = {});
    ~X11FocusReader() override;

    X11FocusReader(const X11FocusReader&) = delete;
    X11FocusReader& operator=(const X11FocusReader&) = delete;

    std::optional<FrontApplication> frontmostApplication() override;
    std::optional<AccessibleElementRef> focusedElement() override;
    std::optional<std::string> roleOf(const AccessibleElementRef& element) override;
    std::optional<std::string> textOf(const AccessibleElementRef& element) override;
    std::optional<TextSelectionRange> selectedRange(const AccessibleElementRef& element) override;

    // Whether the reader is connected to the accessibility bus now.
    bool accessibilityAvailable();

  private:
    X11Connection* connection();
    std::chrono::steady_clock::time_point activeSince(unsigned long window);

    const std::string displayName_;
    std::unique_ptr<X11Connection> connection_;
    std::unique_ptr<AtspiFocusReader> atspi_;
    unsigned long activeWindow_ = 0;  // the active window the last reading found
    std::chrono::steady_clock::time_point activeSince_;
};

}  // namespace vurin
