#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/window_model.h"

namespace vurin::settings_model {

// Small builders shared by the settings panes.

inline TextStyle secondaryText(double pointSize = 12) {
    return TextStyle{.pointSize = pointSize, .colour = ColourRole::secondary};
}

inline RowBlock row(std::string title, std::optional<std::string> subtitle,
                    std::vector<Control> trailing) {
    return RowBlock{.title = std::move(title),
                    .subtitle = std::move(subtitle),
                    .trailing = std::move(trailing)};
}

inline NoteBlock note(std::string text, ColourRole colour = ColourRole::secondary) {
    return NoteBlock{.text = std::move(text), .colour = colour};
}

inline Card card(std::string symbol, std::string title, std::vector<CardBlock> blocks) {
    return Card{
        .symbol = std::move(symbol), .title = std::move(title), .blocks = std::move(blocks)};
}

inline Control segments(std::vector<std::string> titles, int selected,
                        std::function<void(int)> action, ControlId id = {}) {
    return Control{std::move(id), SegmentedControl{.segments = std::move(titles),
                                                   .selected = selected,
                                                   .action = std::move(action)}};
}

}  // namespace vurin::settings_model
