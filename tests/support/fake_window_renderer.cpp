#include "support/fake_window_renderer.h"

#include <variant>

namespace vurin::testing {
namespace {

template <typename Visit>
void eachControl(const WindowModel& model, const Visit& visit) {
    const auto inCard = [&](const Card& card) {
        for (const CardBlock& block : card.blocks) {
            if (const auto* row = std::get_if<RowBlock>(&block)) {
                for (const Control& control : row->trailing) {
                    visit(control);
                }
            } else if (const auto* controls = std::get_if<ControlRowBlock>(&block)) {
                for (const Control& control : controls->controls) {
                    visit(control);
                }
            }
        }
    };
    if (model.header) {
        inCard(*model.header);
    }
    for (const Pane& pane : model.panes) {
        for (const Card& card : pane.cards) {
            inCard(card);
        }
    }
}

}  // namespace

std::string FakeWindowView::shownText(const ControlId& id) const {
    if (const auto found = texts.find(id); found != texts.end()) {
        return found->second;
    }
    std::string text;
    eachControl(model, [&](const Control& control) {
        if (control.id != id) {
            return;
        }
        if (const auto* label = std::get_if<Label>(&control.kind)) {
            text = label->text;
        } else if (const auto* button = std::get_if<Button>(&control.kind)) {
            text = button->title;
        }
    });
    return text;
}

const Button* FakeWindowView::button(const std::string& idOrTitle) const {
    const Button* byId = nullptr;
    const Button* byTitle = nullptr;
    eachControl(model, [&](const Control& control) {
        const auto* button = std::get_if<Button>(&control.kind);
        if (!button) {
            return;
        }
        if (!byId && control.id == idOrTitle) {
            byId = button;
        }
        if (!byTitle && button->title == idOrTitle) {
            byTitle = button;
        }
    });
    return byId ? byId : byTitle;
}

bool FakeWindowView::press(const std::string& idOrTitle) {
    const Button* found = button(idOrTitle);
    if (!found) {
        return false;
    }
    bool isEnabled = found->enabled;
    eachControl(model, [&](const Control& control) {
        if (std::get_if<Button>(&control.kind) == found && !control.id.empty()) {
            if (const auto state = enabled.find(control.id); state != enabled.end()) {
                isEnabled = state->second;
            }
        }
    });
    if (!isEnabled || !found->action) {
        return false;
    }
    const auto action = found->action;
    action();
    return true;
}

}  // namespace vurin::testing
