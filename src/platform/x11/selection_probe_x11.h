#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/clipboard.h"

namespace vurin {

class X11Connection;

// Asks a selection's owner for its list of formats, with a deadline: an owner that hangs
// would otherwise hold a clipboard read (Qt waits five seconds per request). Uses a Display
// and a hidden window of its own, so it never waits on the caller's own connection; the caller
// must not ask about a selection it owns itself, since it could not answer while it waits.
class X11SelectionProbe {
  public:
    // `displayName` empty: $DISPLAY.
    explicit X11SelectionProbe(std::string displayName = {});
    ~X11SelectionProbe();

    X11SelectionProbe(const X11SelectionProbe&) = delete;
    X11SelectionProbe& operator=(const X11SelectionProbe&) = delete;

    // True when the owner answered within `limit`, or when nobody owns the selection (nothing
    // to wait for). False when it did not answer, or the display cannot be reached.
    bool ownerAnswers(ClipboardSelection selection, std::chrono::milliseconds limit);
    // The process of the program whose window asks for a selection (a paste's reader); 0 when
    // the X server cannot tell.
    int requestorProcess(unsigned long window);

  private:
    X11Connection* connection();

    const std::string displayName_;
    std::unique_ptr<X11Connection> connection_;
    unsigned long window_ = 0;
};

}  // namespace vurin
