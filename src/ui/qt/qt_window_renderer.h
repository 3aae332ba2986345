#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>

#include "app/window_model.h"
#include "ui/qt/qt_window_builder.h"

class QStackedWidget;
class QTabBar;
class QVBoxLayout;

namespace vurin {

class RenderedWindow;

// A window rendered from a window model with Qt Widgets: the banner above a tab bar when the
// model has them, framed cards with rounded borders and hairlines between rows, each pane in a
// scroll area when the model scrolls; colours follow the palette (light or dark). Controls with
// an id carry it as their object name.
class QtWindowView : public WindowView, public std::enable_shared_from_this<QtWindowView> {
  public:
    static std::shared_ptr<QtWindowView> create(WindowModel model);
    ~QtWindowView() override;

    void setText(const ControlId& id, const std::string& text) override;
    void setEnabled(const ControlId& id, bool enabled) override;
    void setColour(const ControlId& id, ColourRole colour) override;
    void setOn(const ControlId& id, bool on) override;
    void setSelectedIndex(const ControlId& id, int index) override;
    void setValue(const ControlId& id, double value) override;
    void setImage(const ControlId& id, std::optional<ImageData> image) override;
    void setChart(const ControlId& id, StackedBarChart chart) override;
    std::string text(const ControlId& id) const override;

    void replacePane(int index, Pane pane) override;
    void replaceHeader(Card header) override;
    void replaceBanner(std::optional<Card> banner) override;
    void selectTab(int index) override;
    int selectedTab() const override;
    void scrollToTop() override;

    void raise() override;
    void present(const WindowActivation& activation) override;
    void center() override;
    bool isVisible() const override;
    void close() override;

    // The top-level widget; null once closed.
    QWidget* widget() const;

  private:
    // Where a control lives: a pane's index, or one of these.
    static constexpr int kHeader = -1;
    static constexpr int kBanner = -2;
    struct Registered {
        QPointer<QWidget> widget;
        int pane = kHeader;
    };

    explicit QtWindowView(WindowModel model);
    void build();
    // Builds the widgets of pane `pane` (or the header or banner) and registers their ids.
    WindowBuilder builder(int pane);
    QWidget* control(const ControlId& id) const;
    QWidget* buildPage(int index);
    void installPane(int index, QWidget* content);
    void userClosed();
    void tabPicked(int index);

    WindowModel model_;
    QPointer<RenderedWindow> window_;
    QPointer<QTabBar> tabBar_;
    QPointer<QStackedWidget> stack_;
    QPointer<QVBoxLayout> bannerSlot_;
    QPointer<QWidget> banner_;
    QPointer<QVBoxLayout> headerSlot_;
    QPointer<QWidget> header_;
    std::map<ControlId, Registered> controls_;
    bool selectingTab_ = false;
};

class QtWindowRenderer : public WindowRenderer {
  public:
    using WindowRenderer::open;
    std::shared_ptr<WindowView> open(WindowModel model,
                                     const WindowActivation& activation) override;
};

}  // namespace vurin
