#include "ui/qt/qt_window_renderer.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
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
#include <cmath>
#include <functional>
#include <utility>

#include "ui/qt/qt_bar_chart.h"
#include "ui/qt/qt_window_widgets.h"

namespace vurin {

namespace {

constexpr const char* kColourProperty = "vurinColour";
constexpr const char* kNoteProperty = "vurinNote";
constexpr const char* kFitProperty = "vurinFitPixelSize";
constexpr int kSliderSteps = 1000;
constexpr int kSmallestFittedPixelSize = 8;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QFont fontFor(double pointSize, bool bold, bool monospaced) {
    QFont font =
        monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QApplication::font();
    // Sizes in the models are points of a 72-dpi logical grid, i.e. logical pixels.
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pointSize))));
    font.setBold(bold);
    return font;
}

Qt::Alignment horizontal(TextAlignment alignment) {
    switch (alignment) {
        case TextAlignment::leading:
            return Qt::AlignLeft;
        case TextAlignment::center:
            return Qt::AlignHCenter;
        case TextAlignment::trailing:
            return Qt::AlignRight;
    }
    return Qt::AlignLeft;
}

void applyColour(QLabel* label) {
    const QVariant role = label->property(kColourProperty);
    if (!role.isValid()) {
        return;
    }
    QPalette palette = label->palette();
    const QColor colour = WindowTheme::current().colour(static_cast<ColourRole>(role.toInt()));
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    label->setPalette(palette);
}

// A label marked to fit its width gets the largest font size (up to the model's) at which its
// text fits on one line.
void fitText(QLabel* label) {
    const QVariant wanted = label->property(kFitProperty);
    if (!wanted.isValid()) {
        return;
    }
    QFont font = label->font();
    int size = wanted.toInt();
    const int room = label->width() - 2 * label->margin();
    for (; size > kSmallestFittedPixelSize; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(label->text()) <= room) {
            break;
        }
    }
    font.setPixelSize(size);
    label->setFont(font);
}

void setLabelColour(QLabel* label, ColourRole role) {
    label->setProperty(kColourProperty, static_cast<int>(role));
    applyColour(label);
}

// The icon for a symbol name of the models' vocabulary, from the desktop's icon theme.
QIcon symbolIcon(const std::string& symbol) {
    static const std::map<std::string, const char*> themeNames = {
        {"keyboard", "input-keyboard"},
        {"gearshape", "preferences-system"},
        {"waveform", "audio-input-microphone"},
        {"text.badge.checkmark", "tools-check-spelling"},
        {"cloud", "network-server"},
        {"lock.shield", "security-high"},
        {"arrow.triangle.branch", "view-refresh"},
        {"cpu", "computer"},
        {"speaker.wave.2", "audio-volume-high"},
    };
    const auto found = themeNames.find(symbol);
    return QIcon::fromTheme(found != themeNames.end() ? found->second : qs(symbol));
}

// The symbol tinted with the accent colour, or null when the theme has no such icon.
QPixmap tintedSymbol(const std::string& symbol, int side) {
    QPixmap pixmap = symbolIcon(symbol).pixmap(side, side);
    if (pixmap.isNull()) {
        return pixmap;
    }
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), WindowTheme::current().colour(ColourRole::accent));
    return pixmap;
}

// A row of mutually exclusive buttons on one track.
class SegmentedWidget : public SegmentTrack {
  public:
    SegmentedWidget(const SegmentedControl& model, QWidget* parent) : SegmentTrack(parent) {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(1, 1, 1, 1);
        layout->setSpacing(0);
        group_ = new QButtonGroup(this);
        group_->setExclusive(true);
        for (std::size_t i = 0; i < model.segments.size(); ++i) {
            auto* button = new SegmentButton(qs(model.segments[i]), this);
            button->setCheckable(true);
            button->setChecked(static_cast<int>(i) == model.selected);
            group_->addButton(button, static_cast<int>(i));
            layout->addWidget(button, 1);
        }
        if (model.width > 0) {
            setFixedWidth(model.width);
        }
        QObject::connect(group_, &QButtonGroup::idClicked, this,
                         [action = model.action](int index) {
                             if (action) {
                                 action(index);
                             }
                         });
    }

    void select(int index) {
        if (QAbstractButton* button = group_->button(index)) {
            button->setChecked(true);
        }
    }

  private:
    QButtonGroup* group_;
};

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

// Builds the widgets of cards and controls and registers the controls that have an id.
class QtWindowView::Builder {
  public:
    Builder(QtWindowView& view, int pane) : view_(view), pane_(pane) {}

    QWidget* pane(const Pane& model) {
        auto* content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        layout->setContentsMargins(model.margins.left, model.margins.top, model.margins.right,
                                   model.margins.bottom);
        layout->setSpacing(model.spacing);
        for (const Card& card : model.cards) {
            layout->addWidget(this->card(card));
        }
        layout->addStretch(1);
        return content;
    }

    QWidget* card(const Card& model) {
        QWidget* card = model.framed ? new CardFrame : new QWidget;
        auto* layout = new QVBoxLayout(card);
        if (model.framed) {
            layout->setContentsMargins(14, 10, 14, 10);
        } else {
            layout->setContentsMargins(0, 0, 0, 0);
        }
        layout->setSpacing(model.spacing);
        if (!model.title.empty() || !model.symbol.empty()) {
            layout->addLayout(cardHeader(model));
        }
        bool previousWasRow = false;
        for (const CardBlock& block : model.blocks) {
            const bool isRow = std::holds_alternative<RowBlock>(block);
            if (isRow && previousWasRow && model.framed) {
                layout->addWidget(new Hairline);
            }
            previousWasRow = isRow;
            std::visit([&](const auto& entry) { add(layout, entry); }, block);
        }
        return card;
    }

  private:
    QLayout* cardHeader(const Card& model) {
        auto* header = new QHBoxLayout;
        header->setSpacing(8);
        if (!model.symbol.empty()) {
            const QPixmap symbol = tintedSymbol(model.symbol, 16);
            if (!symbol.isNull()) {
                auto* icon = new QLabel;
                icon->setPixmap(symbol);
                icon->setObjectName(qs("symbol:" + model.symbol));
                header->addWidget(icon);
            }
        }
        auto* title = new QLabel(qs(model.title));
        title->setFont(fontFor(13, true, false));
        setLabelColour(title, ColourRole::primary);
        header->addWidget(title);
        header->addStretch(1);
        return header;
    }

    void add(QVBoxLayout* layout, const RowBlock& row) {
        auto* line = new QHBoxLayout;
        line->setSpacing(row.spacing);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* title = new QLabel(qs(row.title));
        title->setFont(fontFor(13, row.boldTitle, false));
        // A long title wraps rather than widening the window.
        title->setWordWrap(true);
        setLabelColour(title, ColourRole::primary);
        registerControl(row.titleId, title);
        texts->addWidget(title);
        if (row.subtitle) {
            auto* subtitle = new QLabel(qs(*row.subtitle));
            subtitle->setFont(fontFor(12, false, false));
            subtitle->setWordWrap(true);
            setLabelColour(subtitle, ColourRole::secondary);
            registerControl(row.subtitleId, subtitle);
            texts->addWidget(subtitle);
        }
        line->addLayout(texts, 1);
        for (const Control& control : row.trailing) {
            addControl(line, control);
        }
        layout->addLayout(line);
    }

    void add(QVBoxLayout* layout, const NoteBlock& note) {
        auto* label = new QLabel(qs(note.text));
        label->setFont(fontFor(note.pointSize, false, false));
        label->setWordWrap(true);
        label->setProperty(kNoteProperty, true);
        label->setVisible(!note.text.empty());
        setLabelColour(label, note.colour);
        registerControl(note.id, label);
        layout->addWidget(label);
    }

    void add(QVBoxLayout* layout, const ControlRowBlock& row) {
        auto* line = new QHBoxLayout;
        line->setSpacing(row.spacing);
        // A control that takes the free width places the row itself.
        bool fills = false;
        for (const Control& control : row.controls) {
            if (std::holds_alternative<FlexibleSpace>(control.kind)) {
                fills = true;
            } else {
                fills = fills || takesFreeWidth(control);
            }
        }
        if (!fills && row.alignment != TextAlignment::leading) {
            line->addStretch(1);
        }
        for (const Control& control : row.controls) {
            addControl(line, control);
        }
        if (!fills && row.alignment != TextAlignment::trailing) {
            line->addStretch(1);
        }
        layout->addLayout(line);
    }

    // Wrapping or elided labels and text fields without a width share a row's free width.
    static bool takesFreeWidth(const Control& control) {
        if (const auto* label = std::get_if<Label>(&control.kind)) {
            return label->style.wraps || label->style.elides;
        }
        if (const auto* field = std::get_if<SecureTextField>(&control.kind)) {
            return field->width == 0;
        }
        return false;
    }

    void addControl(QHBoxLayout* line, const Control& control) {
        if (std::holds_alternative<FlexibleSpace>(control.kind)) {
            line->addStretch(1);
            return;
        }
        QWidget* widget = std::visit([&](const auto& kind) { return make(kind); }, control.kind);
        registerControl(control.id, widget);
        line->addWidget(widget, takesFreeWidth(control) ? 1 : 0);
    }

    QWidget* make(const Label& model) {
        const TextStyle& style = model.style;
        auto* label = style.elides ? new ElidingLabel(qs(model.text)) : new QLabel(qs(model.text));
        label->setFont(fontFor(style.pointSize, style.bold, style.monospaced));
        label->setAlignment(horizontal(style.alignment) | Qt::AlignVCenter);
        if (style.width > 0) {
            label->setFixedWidth(style.width);
        }
        if (style.wrapWidth > 0) {
            label->setWordWrap(true);
            label->setFixedWidth(style.wrapWidth);
        } else if (style.wraps) {
            label->setWordWrap(true);
            label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        }
        if (style.shrinkToFit && style.width > 0 && style.wrapWidth == 0 && !style.wraps) {
            label->setProperty(kFitProperty, static_cast<int>(std::lround(style.pointSize)));
            fitText(label);
        }
        if (style.selectable) {
            label->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                           Qt::TextSelectableByKeyboard);
        }
        setLabelColour(label, style.colour);
        return label;
    }

    QWidget* make(const Button& model) {
        auto* button = new QPushButton(qs(model.title));
        if (model.width > 0) {
            button->setFixedWidth(model.width);
        }
        button->setEnabled(model.enabled);
        button->setDefault(model.isDefault);
        QObject::connect(button, &QPushButton::clicked, button, [action = model.action] {
            if (action) {
                action();
            }
        });
        return button;
    }

    QWidget* make(const Switch& model) {
        auto* button = new SwitchButton;
        button->setChecked(model.on);
        button->setEnabled(model.enabled);
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [action = model.action](bool on) {
                             if (action) {
                                 action(on);
                             }
                         });
        return button;
    }

    QWidget* make(const SegmentedControl& model) {
        auto* segments = new SegmentedWidget(model, nullptr);
        segments->setEnabled(model.enabled);
        return segments;
    }

    QWidget* make(const Slider& model) {
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(0, kSliderSteps);
        slider->setProperty("vurinMinimum", model.minimum);
        slider->setProperty("vurinMaximum", model.maximum);
        slider->setValue(sliderPosition(model.minimum, model.maximum, model.value));
        // Without tracking, valueChanged fires once the knob is let go (or on a click or key),
        // never while dragging.
        slider->setTracking(false);
        if (model.width > 0) {
            slider->setFixedWidth(model.width);
        }
        slider->setEnabled(model.enabled);
        takeWheelOnlyWithFocus(slider);
        QObject::connect(
            slider, &QSlider::valueChanged, slider,
            [action = model.onRelease, low = model.minimum, high = model.maximum](int position) {
                if (action) {
                    action(low + (high - low) * position / kSliderSteps);
                }
            });
        return slider;
    }

    QWidget* make(const PopUpButton& model) {
        auto* popUp = new QComboBox;
        for (const std::string& item : model.items) {
            popUp->addItem(qs(item));
        }
        popUp->setCurrentIndex(model.selected);
        if (model.width > 0) {
            popUp->setFixedWidth(model.width);
        }
        popUp->setEnabled(model.enabled);
        takeWheelOnlyWithFocus(popUp);
        QObject::connect(popUp, &QComboBox::activated, popUp, [action = model.action](int index) {
            if (action) {
                action(index);
            }
        });
        return popUp;
    }

    QWidget* make(const SecureTextField& model) {
        auto* field = new QLineEdit;
        field->setEchoMode(QLineEdit::Password);
        field->setPlaceholderText(qs(model.placeholder));
        if (model.width > 0) {
            field->setFixedWidth(model.width);
        }
        field->setEnabled(model.enabled);
        QObject::connect(field, &QLineEdit::returnPressed, field, [field, submit = model.onSubmit] {
            if (submit) {
                submit(field->text().toStdString());
            }
        });
        return field;
    }

    QWidget* make(const ImageView& model) { return new PictureView(model); }

    QWidget* make(const StatusDot& model) { return new DotView(model.diameter, model.colour); }

    QWidget* make(const FlexibleSpace&) { return new QWidget; }

    QWidget* make(const StackedBarChart& model) { return new BarChartView(model); }

  public:
    static int sliderPosition(double low, double high, double value) {
        if (high <= low) {
            return 0;
        }
        const double clamped = std::clamp(value, low, high);
        return static_cast<int>(std::lround((clamped - low) / (high - low) * kSliderSteps));
    }

  private:
    void registerControl(const ControlId& id, QWidget* widget) {
        if (id.empty()) {
            return;
        }
        widget->setObjectName(qs(id));
        view_.controls_[id] = Registered{widget, pane_};
    }

    QtWindowView& view_;
    int pane_;
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
    QWidget* content = Builder(*this, index).pane(model_.panes[static_cast<std::size_t>(index)]);
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
        label->setText(qs(text));
        fitText(label);
        if (label->property(kNoteProperty).toBool()) {
            label->setVisible(!text.empty());
        }
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
        slider->setValue(Builder::sliderPosition(slider->property("vurinMinimum").toDouble(),
                                                 slider->property("vurinMaximum").toDouble(),
                                                 value));
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
    installPane(index, Builder(*this, index).pane(model_.panes[static_cast<std::size_t>(index)]));
}

void QtWindowView::replaceHeader(Card header) {
    if (!window_ || !headerSlot_) {
        return;
    }
    std::erase_if(controls_, [](const auto& entry) { return entry.second.pane == -1; });
    if (header_) {
        header_->hide();
        header_->deleteLater();
    }
    model_.header = std::move(header);
    headerSlot_->setContentsMargins(16, 8, 16, 0);
    header_ = Builder(*this, -1).card(*model_.header);
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
    if (!window_) {
        return;
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
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

std::shared_ptr<WindowView> QtWindowRenderer::open(WindowModel model) {
    auto view = QtWindowView::create(std::move(model));
    view->center();
    view->raise();
    return view;
}

}  // namespace vurin
