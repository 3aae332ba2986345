#include "platform/linux/atspi_focus_search.h"

#include <algorithm>
#include <vector>

namespace vurin::atspi {

std::optional<AccessibleElementRef> focusedElementUnder(Connection& connection,
                                                        const AccessibleElementRef& application,
                                                        SearchBudget& budget) {
    const auto windows = connection.children(application, &budget.unanswered);
    if (!windows) {
        return std::nullopt;
    }
    std::vector<AccessibleElementRef> active, other;
    for (const AccessibleElementRef& window : *windows) {
        if (budget.over()) {
            return std::nullopt;
        }
        const auto states = connection.states(window, &budget.unanswered);
        (states && has(*states, ATSPI_STATE_ACTIVE) ? active : other).push_back(window);
    }
    std::vector<AccessibleElementRef> stack(active.empty() ? other : active);
    std::reverse(stack.begin(), stack.end());
    while (!stack.empty()) {
        ++budget.visits;
        if (budget.over()) {
            return std::nullopt;
        }
        AccessibleElementRef node = std::move(stack.back());
        stack.pop_back();
        const auto states = connection.states(node, &budget.unanswered);
        if (!states) {
            continue;
        }
        if (has(*states, ATSPI_STATE_FOCUSED)) {
            return node;
        }
        // Hidden parts cannot hold the focus, and containers that manage their
        // descendants (long lists, tables, terminals' grids) may have thousands.
        if (!has(*states, ATSPI_STATE_SHOWING) || has(*states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
            continue;
        }
        if (auto children = connection.children(node, &budget.unanswered)) {
            // Pushed in reverse so that the first child is looked at first.
            stack.insert(stack.end(), children->rbegin(), children->rend());
        }
    }
    return std::nullopt;
}

}  // namespace vurin::atspi
