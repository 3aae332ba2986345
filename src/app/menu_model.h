#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vurin {

// A menu as plain data: the logic builds it with the exact texts, the UI renders it.
struct MenuItem {
    enum class Kind { action, separator };

    Kind kind = Kind::action;
    std::string title;
    bool enabled = true;
    // The key that goes with the platform's command modifier ("q", ","), empty for none.
    // `shiftModifier` adds Shift, as in Redo.
    std::string keyEquivalent;
    bool shiftModifier = false;
    // A standard editing action the UI maps to its own ("undo", "cut", ...), empty otherwise.
    std::string standardAction;
    std::function<void()> action;

    static MenuItem separator() { return MenuItem{.kind = Kind::separator}; }
};

struct MenuModel {
    std::string title;
    std::vector<MenuItem> items;
    std::vector<MenuModel> submenus;
};

}  // namespace vurin
