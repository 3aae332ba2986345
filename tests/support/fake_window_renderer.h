#pragma once

#include <map>

#include "app/window_model.h"

namespace vurin::testing {

// A window that records what the logic asks of it; tests find and press controls in its model.
class FakeWindowView : public WindowView {
  public:
    explicit FakeWindowView(WindowModel model) : model(std::move(model)) {}

    void setText(const ControlId& id, const std::string& text) override { texts[id] = text; }
    void setEnabled(const ControlId& id, bool value) override { enabled[id] = value; }
    void setColour(const ControlId& id, ColourRole colour) override { colours[id] = colour; }
    void setOn(const ControlId& id, bool on) override { switches[id] = on; }
    void setSelectedIndex(const ControlId& id, int index) override { selections[id] = index; }
    void setValue(const ControlId& id, double value) override { values[id] = value; }
    void setImage(const ControlId& id, std::optional<ImageData> image) override {
        images[id] = std::move(image);
    }
    void setChart(const ControlId& id, StackedBarChart chart) override {
        charts[id] = std::move(chart);
    }
    std::string text(const ControlId& id) const override {
        const auto found = fieldTexts.find(id);
        return found == fieldTexts.end() ? std::string() : found->second;
    }
    void replacePane(int index, Pane pane) override {
        model.panes.at(static_cast<std::size_t>(index)) = std::move(pane);
        ++paneReplacements;
    }
    void replaceHeader(Card header) override { model.header = std::move(header); }
    void replaceBanner(std::optional<Card> banner) override { model.banner = std::move(banner); }
    void selectTab(int index) override { selected = index; }
    int selectedTab() const override { return selected; }
    void scrollToTop() override { ++scrollsToTop; }
    void raise() override { present({}); }
    void present(const WindowActivation& activation) override {
        visible = true;
        ++raises;
        activations.push_back(activation);
    }
    void center() override { ++centerings; }
    bool isVisible() const override { return visible && !closed; }
    void close() override { closed = true; }

    // The user pressed the window's close button.
    void userCloses() {
        visible = false;
        if (model.onClose) {
            model.onClose();
        }
    }

    // The text shown for `id`: the last setText, else the model's label text or button title.
    std::string shownText(const ControlId& id) const;
    // Presses the button with this id, else this title; false when there is none or it is off.
    bool press(const std::string& idOrTitle);

    WindowModel model;
    std::map<ControlId, std::string> texts, fieldTexts;
    std::map<ControlId, bool> enabled, switches;
    std::map<ControlId, ColourRole> colours;
    std::map<ControlId, int> selections;
    std::map<ControlId, double> values;
    std::map<ControlId, std::optional<ImageData>> images;
    std::vector<WindowActivation> activations;  // of each raise, the opening's first
    std::map<ControlId, StackedBarChart> charts;
    int selected = 0, paneReplacements = 0, scrollsToTop = 0, raises = 0, centerings = 0;
    bool visible = false, closed = false;
};

class FakeWindowRenderer : public WindowRenderer {
  public:
    using WindowRenderer::open;
    std::shared_ptr<WindowView> open(WindowModel model,
                                     const WindowActivation& activation) override {
        auto view = std::make_shared<FakeWindowView>(std::move(model));
        view->visible = true;
        view->activations.push_back(activation);
        opened.push_back(view);
        return view;
    }

    std::shared_ptr<FakeWindowView> last() const {
        return opened.empty() ? nullptr : opened.back();
    }

    std::vector<std::shared_ptr<FakeWindowView>> opened;
};

}  // namespace vurin::testing
