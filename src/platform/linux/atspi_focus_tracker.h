#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "injection/injection_target.h"

namespace vurin {

// Follows the desktop's focus on a thread of its own: it subscribes to the accessibility bus's
// focus events and keeps, per application, the element that last gained the focus (and its
// role). A capture is answered from that record, so an unchanged focus always gives the same
// answer and the main thread never walks an application's tree. An application not heard from
// yet (it had the focus before the tracker started) is searched on the tracker's thread; what a
// search found holds for a few seconds, since such an application may never send an event.
//
// The bus may come up after the tracker (an autostarted session): while it is unreachable a
// capture asks for another attempt, at most one every few seconds.
class AtspiFocusTracker {
  public:
    struct Focus {
        AccessibleElementRef element;
        std::optional<std::string> role;
    };
    struct ActiveWindow {
        AccessibleElementRef window;
        int pid = 0;
        std::chrono::steady_clock::time_point since;  // when it was heard of (or found) active
    };

    AtspiFocusTracker();  // starts the thread, which connects at once
    ~AtspiFocusTracker();
    AtspiFocusTracker(const AtspiFocusTracker&) = delete;
    AtspiFocusTracker& operator=(const AtspiFocusTracker&) = delete;

    // The element focused in the application of process `pid`. For an application not heard
    // from yet, a search of its tree is started and waited for at most `wait`.
    std::optional<Focus> focusIn(int pid, std::chrono::milliseconds wait);
    // `element` with its role while it is the focused element of its application.
    std::optional<Focus> known(const AccessibleElementRef& element);
    // The window that said last that it became active (or that a scan found active, when none
    // did since the tracker listened) and has not said it stopped. Only a candidate: the caller
    // asks the window whether it still is. With nothing known, a scan of the applications'
    // windows is started and waited for at most `wait`.
    std::optional<ActiveWindow> lastActivatedWindow(std::chrono::milliseconds wait);
    // The same after the applications' windows were asked for their state once more (unless
    // they were a moment ago), waited for at most `wait`: for a candidate that said it is no
    // longer active, or never said it became so.
    std::optional<ActiveWindow> scannedActiveWindow(std::chrono::milliseconds wait);
    // The process whose element gained the focus last, by an event later than `since`, and
    // still holds it; 0 if none.
    int focusedProcess(std::chrono::steady_clock::time_point since);
    // The bus's address while the tracker is connected to it.
    std::optional<std::string> address();

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vurin
