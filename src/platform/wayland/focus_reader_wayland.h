#pragma once

#include <memory>

#include "platform/focus_reader.h"

namespace vurin {

class AtspiFocusReader;

// FocusReader in a Wayland session, where a client cannot ask the compositor which window is
// active: the application is the one that last took the accessibility focus (AT-SPI), named by
// its process. No window identity yet: two windows of one program look alike.
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
};

}  // namespace vurin
