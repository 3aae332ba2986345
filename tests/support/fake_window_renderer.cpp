#include "support/fake_window_renderer.h"

#include <algorithm>
#include <variant>

namespace vurin::testing {
namespace {

// The first control with this id or, when no id matches, the first button with this title.
const Control* find(const WindowModel& model, const std::string& idOrTitle) {
    const Control *byId = nullptr, *byTitle = nullptr;
    const auto visit = [&](const Control& control) {
        const auto* button = std::get_if<Button>(&control.kind);
        byId = !byId && control.id == idOrTitle ? &control : byId;
        byTitle = !byTitle && button && button->title == idOrTitle ? &control : byTitle;
    };
    const auto inCard = [&](const Card& card) {
        for (const CardBlock& block : card.blocks) {
            if (const auto* row = std::get_if<RowBlock>(&block)) {
                std::for_each(row->trailing.begin(), row->trailing.end(), visit);
            } else if (const auto* controls = std::get_if<ControlRowBlock>(&block)) {
                std::for_each(controls->controls.begin(), controls->controls.end(), visit);
            }
        }
    };
    for (const auto* card : {&model.banner, &model.header}) {
        if (*card) {
            inCard(**card);
        }
    }
    for (const Pane& pane : model.panes) {
        std::for_each(pane.cards.begin(), pane.cards.end(), inCard);
    }
    return byId ? byId : byTitle;
}

}  // namespace

std::string FakeWindowView::shownText(const ControlId& id) const {
    if (const auto found = texts.find(id); found != texts.end()) {
        return found->second;
    }
    const Control* control = find(model, id);
    if (const auto* label = control ? std::get_if<Label>(&control->kind) : nullptr) {
        return label->text;
    }
    const auto* button = control ? std::get_if<Button>(&control->kind) : nullptr;
    return button ? button->title : std::string();
}

bool FakeWindowView::press(const std::string& idOrTitle) {
    const Control* control = find(model, idOrTitle);
    const auto* button = control ? std::get_if<Button>(&control->kind) : nullptr;
    if (!button) {
        return false;
    }
    const auto state = enabled.find(control->id);
    if (!(state != enabled.end() ? state->second : button->enabled) || !button->action) {
        return false;
    }
    const auto action = button->action;
    action();
    return true;
}

}  // namespace vurin::testing
