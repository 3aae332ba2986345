#pragma once

#include <atomic>
#include <chrono>
#include <optional>

#include "platform/linux/atspi_bus.h"

namespace vurin::atspi {

// A search's time and size budget; a call that goes unanswered ends it, since a hung
// application leaves every further call unanswered too, and so does the caller stopping.
struct SearchBudget {
    // A search runs on a thread of its own, so it may look further than a capture could wait.
    static constexpr auto kTime = std::chrono::seconds(3);
    static constexpr int kNodeLimit = 20000;

    const std::atomic<bool>& stopping;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kTime;
    int visits = 0;
    bool unanswered = false;
    bool over() const {
        return unanswered || stopping || visits > kNodeLimit ||
               std::chrono::steady_clock::now() > deadline;
    }
};

// The focused element under the application's active window (or under any of its windows when
// none says it is active), depth first; nothing when there is none or the budget ran out.
std::optional<AccessibleElementRef> focusedElementUnder(Connection& connection,
                                                        const AccessibleElementRef& application,
                                                        SearchBudget& budget);

}  // namespace vurin::atspi
