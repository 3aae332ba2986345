#pragma once

#include <memory>

#include "platform/focus_reader.h"

namespace vurin {

class AtspiFocusReader;
class ForeignToplevelWatch;

// FocusReader in a Wayland session. Where the compositor lists its windows
// (`zwlr_foreign_toplevel_manager_v1`: sway, Hyprland, river, labwc …) the front-most
// application is the activated window: its app id, an id of ours for the window, and its process
// only when the accessibility bus names a window of a program that is active now (a terminal
// like foot has no accessibility, and compositors tell no process). Elsewhere (GNOME, KDE, and
// sway while its list is lost) it is the window that says over the accessibility bus that it is
// active, asked at each reading; a program without accessibility in front leaves the window
// unverifiable, never the previous one. The focused element is the one its application last
// named, while it still says it has the focus; its text and caret come from AT-SPI too.
class WaylandFocusReader : public FocusReader {
  public:
    WaylandFocusReader();
    ~WaylandFocusReader() override;

    std::optional<FrontApplication> frontmostApplication() override;
    std::optional<AccessibleElementRef> focusedElement() override;
    std::optional<std::string> roleOf(const AccessibleElementRef& element) override;
    std::optional<std::string> textOf(const AccessibleElementRef& element) override;
    std::optional<TextSelectionRange> selectedRange(const AccessibleElementRef& element) override;

  private:
    std::unique_ptr<AtspiFocusReader> atspi_;
    std::unique_ptr<ForeignToplevelWatch> windows_;
};

}  // namespace vurin
