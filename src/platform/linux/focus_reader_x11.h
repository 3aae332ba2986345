#pragma once

#include <memory>
#include <string>

#include "platform/focus_reader.h"

namespace vurin {

class X11Connection;

// FocusReader on X11: the front-most application from EWMH (_NET_ACTIVE_WINDOW, its
// _NET_WM_PID and WM_CLASS; the name from /proc/PID/comm), the focused element from AT-SPI,
// searched on demand in the accessible tree of the application that owns the active window.
// Every AT-SPI call has a short time-out and a search has a budget of calls, so a hung or huge
// application costs at most a fraction of a second and gives "no element".
//
// AT-SPI is spoken over a private D-Bus connection that subscribes to no events (libatspi's
// own connection dispatches events while it waits for a reply, and its handlers then deadlock
// in nested calls). The header stays free of D-Bus and Xlib, whose macros clash with others'.
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

    // Whether the accessibility bus answered when the reader connected to it.
    bool accessibilityAvailable();

  private:
    class Accessibility;

    X11Connection* connection();

    const std::string displayName_;
    std::unique_ptr<X11Connection> connection_;
    std::unique_ptr<Accessibility> accessibility_;
};

// Asks the session's accessibility bus to switch accessibility on, so that Qt applications
// (which stay off the bus otherwise) expose their text fields; GTK applications always do.
// Returns false when there is no session bus or no accessibility bus to ask. Call once at
// start-up, before reading focus; it waits at most about a second.
bool enableDesktopAccessibility();

}  // namespace vurin
