#include "ui/qt/qt_window_renderer.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

#include "ui/qt/qt_bar_chart.h"
#include "ui/qt/qt_window_activation.h"
#include "ui/qt/qt_window_builder.h"
#include "ui/qt/qt_window_widgets.h"

namespace vurin {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

// The top-level widget: the close button hides it and tells the view; palette changes repaint
// the colour roles.
class RenderedWindow : public QWidget {
  public:
    std::function<void()> onUserClose;
    bool closingForGood = false;

    void applyTheme() {
        // Setting our own palette below raises another palette change.
        if (applyingTheme_) {
            return;
        }
        applyingTheme_ = true;
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, WindowTheme::current().windowBackground);
        setPalette(palette);
        setAutoFillBackground(true);
        for (QLabel* label : findChildren<QLabel*>()) {
            applyColour(label);
        }
        update();
        applyingTheme_ = false;
    }

  protected:
    void closeEvent(QCloseEvent* event) override {
        if (closingForGood) {
            event->accept();
            return;
        }
        event->ignore();
        hide();
        if (auto notify = onUserClose) {
            notify();
        }
    }

    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::ApplicationPaletteChange ||
            event->type() == QEvent::PaletteChange) {
            applyTheme();
        }
        QWidget::changeEvent(event);
    }

  private:
    bool applyingTheme_ = false;
};

std::shared_ptr<QtWindowView> QtWindowView::create(WindowModel model) {
    std::shared_ptr<QtWindowView> view(new QtWindowView(std::move(model)));
    view->build();
    return view;
}

QtWindowView::QtWindowView(WindowModel model) : model_(std::move(model)) {}

QtWindowView::~QtWindowView() {
    close();
}

void QtWindowView::build() {
    auto* window = new RenderedWindow;
    window_ = window;
    window->setWindowTitle(qs(model_.title));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->onUserClose = [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->userClosed();
        }
    };
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* bannerSlot = new QVBoxLayout;
    bannerSlot->setContentsMargins(0, 0, 0, 0);
    bannerSlot_ = bannerSlot;
    layout->addLayout(bannerSlot);
    if (model_.banner) {
        replaceBanner(model_.banner);
    }

    if (model_.tabs) {
        auto* tabs = new QTabBar;
        tabs->setObjectName("tabs");
        tabs->setExpanding(true);
        tabs->setDrawBase(false);
        for (const std::string& title : model_.tabs->titles) {
            tabs->addTab(qs(title));
        }
        tabs->setCurrentIndex(model_.tabs->selected);
        QObject::connect(tabs, &QTabBar::currentChanged, tabs,
                         [weak = weak_from_this()](int index) {
                             if (auto self = weak.lock()) {
                                 self->tabPicked(index);
                             }
                         });
        tabBar_ = tabs;
        auto* row = new QHBoxLayout;
        row->setContentsMargins(16, 12, 16, 4);
        row->addWidget(tabs);
        layout->addLayout(row);
    }

    auto* headerSlot = new QVBoxLayout;
    headerSlot->setContentsMargins(0, 0, 0, 0);
    headerSlot_ = headerSlot;
    layout->addLayout(headerSlot);
    if (model_.header) {
        replaceHeader(*model_.header);
    }

    auto* stack = new QStackedWidget;
    stack_ = stack;
    layout->addWidget(stack, 1);
    for (int index = 0; index < static_cast<int>(model_.panes.size()); ++index) {
        stack->addWidget(buildPage(index));
    }
    if (model_.tabs && model_.tabs->selected >= 0 && model_.tabs->selected < stack->count()) {
        stack->setCurrentIndex(model_.tabs->selected);
    }

    window->applyTheme();
    // The model's width is the window's: content that wants more wraps or is cut short.
    window->setFixedWidth(model_.width);
    window->resize(model_.width, std::max(model_.height, window->sizeHint().height()));
}

QWidget* QtWindowView::buildPage(int index) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    if (model_.scrollable) {
        auto* scroll = new QScrollArea;
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->viewport()->setAutoFillBackground(false);
        layout->addWidget(scroll);
    }
    page->setProperty("vurinPage", index);
    QWidget* content = builder(index).pane(model_.panes[static_cast<std::size_t>(index)]);
    auto* scroll = page->findChild<QScrollArea*>();
    if (scroll) {
        content->setAutoFillBackground(false);
        scroll->setWidget(content);
    } else {
        layout->addWidget(content);
    }
    return page;
}

void QtWindowView::installPane(int index, QWidget* content) {
    QWidget* page = stack_ ? stack_->widget(index) : nullptr;
    if (!page) {
        content->deleteLater();
        return;
    }
    // The old content may be the sender of the action that replaces it: hide it now, delete it
    // once the event loop is back.
    if (auto* scroll = page->findChild<QScrollArea*>()) {
        if (QWidget* old = scroll->takeWidget()) {
            old->hide();
            old->deleteLater();
        }
        content->setAutoFillBackground(false);
        scroll->setWidget(content);
    } else {
        auto* layout = static_cast<QVBoxLayout*>(page->layout());
        while (QLayoutItem* item = layout->takeAt(0)) {
            if (QWidget* old = item->widget()) {
                old->hide();
                old->deleteLater();
            }
            delete item;
        }
        layout->addWidget(content);
    }
    if (window_) {
        window_->applyTheme();
    }
}

QWidget* QtWindowView::control(const ControlId& id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second.widget.data();
}

void QtWindowView::setText(const ControlId& id, const std::string& text) {
    QWidget* widget = control(id);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        setLabelText(label, text);
    } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
        field->setText(qs(text));
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(qs(text));
    }
}

void QtWindowView::setEnabled(const ControlId& id, bool enabled) {
    if (QWidget* widget = control(id)) {
        widget->setEnabled(enabled);
    }
}

void QtWindowView::setColour(const ControlId& id, ColourRole colour) {
    QWidget* widget = control(id);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        setLabelColour(label, colour);
    } else if (auto* dot = dynamic_cast<DotView*>(widget)) {
        dot->setColour(colour);
    }
}

void QtWindowView::setOn(const ControlId& id, bool on) {
    if (auto* toggle = dynamic_cast<SwitchButton*>(control(id))) {
        const QSignalBlocker quiet(toggle);
        toggle->setChecked(on);
    }
}

void QtWindowView::setSelectedIndex(const ControlId& id, int index) {
    QWidget* widget = control(id);
    if (auto* popUp = qobject_cast<QComboBox*>(widget)) {
        const QSignalBlocker quiet(popUp);
        popUp->setCurrentIndex(index);
    } else if (auto* segments = dynamic_cast<SegmentedWidget*>(widget)) {
        segments->select(index);
    }
}

void QtWindowView::setValue(const ControlId& id, double value) {
    if (auto* slider = qobject_cast<QSlider*>(control(id))) {
        const QSignalBlocker quiet(slider);
        setSliderValue(slider, value);
    }
}

void QtWindowView::setImage(const ControlId& id, std::optional<ImageData> image) {
    if (auto* picture = dynamic_cast<PictureView*>(control(id))) {
        picture->setPicture(image);
    }
}

void QtWindowView::setChart(const ControlId& id, StackedBarChart chart) {
    if (auto* view = dynamic_cast<BarChartView*>(control(id))) {
        view->setChart(std::move(chart));
    }
}

std::string QtWindowView::text(const ControlId& id) const {
    if (auto* field = qobject_cast<QLineEdit*>(control(id))) {
        return field->text().toStdString();
    }
    return {};
}

void QtWindowView::replacePane(int index, Pane pane) {
    if (!window_ || index < 0 || index >= static_cast<int>(model_.panes.size())) {
        return;
    }
    std::erase_if(controls_, [index](const auto& entry) { return entry.second.pane == index; });
    model_.panes[static_cast<std::size_t>(index)] = std::move(pane);
    installPane(index, builder(index).pane(model_.panes[static_cast<std::size_t>(index)]));
}

void QtWindowView::replaceBanner(std::optional<Card> banner) {
    if (!window_ || !bannerSlot_) {
        return;
    }
    std::erase_if(controls_, [](const auto& entry) { return entry.second.pane == kBanner; });
    if (banner_) {
        banner_->hide();
        banner_->deleteLater();
    }
    model_.banner = std::move(banner);
    bannerSlot_->setContentsMargins(16, model_.banner ? 12 : 0, 16, 0);
    if (model_.banner) {
        banner_ = builder(kBanner).card(*model_.banner);
        bannerSlot_->addWidget(banner_);
        window_->applyTheme();
    }
}

void QtWindowView::replaceHeader(Card header) {
    if (!window_ || !headerSlot_) {
        return;
    }
    std::erase_if(controls_, [](const auto& entry) { return entry.second.pane == kHeader; });
    if (header_) {
        header_->hide();
        header_->deleteLater();
    }
    model_.header = std::move(header);
    headerSlot_->setContentsMargins(16, 8, 16, 0);
    header_ = builder(kHeader).card(*model_.header);
    headerSlot_->addWidget(header_);
    window_->applyTheme();
}

void QtWindowView::selectTab(int index) {
    if (!stack_ || index < 0 || index >= stack_->count()) {
        return;
    }
    selectingTab_ = true;
    if (tabBar_) {
        tabBar_->setCurrentIndex(index);
    }
    selectingTab_ = false;
    stack_->setCurrentIndex(index);
}

int QtWindowView::selectedTab() const {
    return stack_ ? stack_->currentIndex() : 0;
}

void QtWindowView::tabPicked(int index) {
    if (!stack_ || index < 0 || index >= stack_->count()) {
        return;
    }
    stack_->setCurrentIndex(index);
    if (!selectingTab_ && model_.tabs && model_.tabs->onSelect) {
        const auto onSelect = model_.tabs->onSelect;
        onSelect(index);
    }
}

void QtWindowView::scrollToTop() {
    if (!stack_) {
        return;
    }
    if (QWidget* page = stack_->currentWidget()) {
        if (auto* scroll = page->findChild<QScrollArea*>()) {
            scroll->verticalScrollBar()->setValue(0);
        }
    }
}

void QtWindowView::raise() {
    present({});
}

void QtWindowView::present(const WindowActivation& activation) {
    if (!window_) {
        return;
    }
    if (!activation.requested) {
        // Shown unasked: the program the user is in keeps the keyboard.
        window_->setAttribute(Qt::WA_ShowWithoutActivating, true);
        window_->show();
        window_->raise();
        window_->setAttribute(Qt::WA_ShowWithoutActivating, false);
        return;
    }
    window_->show();
    activateWithToken(window_, activation.token);
}

void QtWindowView::center() {
    if (!window_) {
        return;
    }
    QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    QRect frame = window_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window_->move(frame.topLeft());
}

bool QtWindowView::isVisible() const {
    return window_ && window_->isVisible();
}

void QtWindowView::close() {
    controls_.clear();
    if (RenderedWindow* window = window_.data()) {
        window_ = nullptr;
        window->onUserClose = nullptr;
        window->closingForGood = true;
        window->hide();
        // Possibly inside one of the window's own actions: delete once the event loop is back.
        window->deleteLater();
    }
}

QWidget* QtWindowView::widget() const {
    return window_.data();
}

void QtWindowView::userClosed() {
    if (model_.onClose) {
        const auto onClose = model_.onClose;
        onClose();
    }
}

WindowBuilder QtWindowView::builder(int pane) {
    return WindowBuilder([this, pane](const ControlId& id, QWidget* widget) {
        controls_[id] = Registered{widget, pane};
    });
}

std::shared_ptr<WindowView> QtWindowRenderer::open(WindowModel model,
                                                   const WindowActivation& activation) {
    auto view = QtWindowView::create(std::move(model));
    view->center();
    view->present(activation);
    return view;
}

}  // namespace vurin
