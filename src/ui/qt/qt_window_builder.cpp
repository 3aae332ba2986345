#include "ui/qt/qt_window_builder.h"

#include "ui/qt/qt_bar_chart.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace vurin {

namespace {

constexpr const char* kColourProperty = "vurinColour";
constexpr const char* kNoteProperty = "vurinNote";
constexpr const char* kFitProperty = "vurinFitPixelSize";
constexpr const char* kSliderMinimumProperty = "vurinMinimum";
constexpr const char* kSliderMaximumProperty = "vurinMaximum";
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

}  // namespace

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

namespace {

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

}  // namespace

void setLabelColour(QLabel* label, ColourRole role) {
    label->setProperty(kColourProperty, static_cast<int>(role));
    applyColour(label);
}

namespace {

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

// Wrapping or elided labels and text fields without a width share a row's free width.
bool takesFreeWidth(const Control& control) {
    if (const auto* label = std::get_if<Label>(&control.kind)) {
        return label->style.wraps || label->style.elides;
    }
    if (const auto* field = std::get_if<SecureTextField>(&control.kind)) {
        return field->width == 0;
    }
    return false;
}

}  // namespace

WindowBuilder::WindowBuilder(Register registerControl) : register_(std::move(registerControl)) {}

QWidget* WindowBuilder::pane(const Pane& model) {
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

QWidget* WindowBuilder::card(const Card& model) {
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

QLayout* WindowBuilder::cardHeader(const Card& model) {
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

void WindowBuilder::add(QVBoxLayout* layout, const RowBlock& row) {
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

void WindowBuilder::add(QVBoxLayout* layout, const NoteBlock& note) {
    auto* label = new QLabel(qs(note.text));
    label->setFont(fontFor(note.pointSize, false, false));
    label->setWordWrap(true);
    label->setProperty(kNoteProperty, true);
    label->setVisible(!note.text.empty());
    setLabelColour(label, note.colour);
    registerControl(note.id, label);
    layout->addWidget(label);
}

void WindowBuilder::add(QVBoxLayout* layout, const ControlRowBlock& row) {
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

void WindowBuilder::addControl(QHBoxLayout* line, const Control& control) {
    if (std::holds_alternative<FlexibleSpace>(control.kind)) {
        line->addStretch(1);
        return;
    }
    QWidget* widget = std::visit([&](const auto& kind) { return make(kind); }, control.kind);
    registerControl(control.id, widget);
    line->addWidget(widget, takesFreeWidth(control) ? 1 : 0);
}

QWidget* WindowBuilder::make(const Label& model) {
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
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    setLabelColour(label, style.colour);
    return label;
}

QWidget* WindowBuilder::make(const Button& model) {
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

QWidget* WindowBuilder::make(const Switch& model) {
    auto* button = new SwitchButton;
    button->setChecked(model.on);
    button->setEnabled(model.enabled);
    QObject::connect(button, &QAbstractButton::clicked, button, [action = model.action](bool on) {
        if (action) {
            action(on);
        }
    });
    return button;
}

QWidget* WindowBuilder::make(const SegmentedControl& model) {
    auto* segments = new SegmentedWidget(model, nullptr);
    segments->setEnabled(model.enabled);
    return segments;
}

QWidget* WindowBuilder::make(const Slider& model) {
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, kSliderSteps);
    slider->setProperty(kSliderMinimumProperty, model.minimum);
    slider->setProperty(kSliderMaximumProperty, model.maximum);
    setSliderValue(slider, model.value);
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

QWidget* WindowBuilder::make(const PopUpButton& model) {
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

QWidget* WindowBuilder::make(const SecureTextField& model) {
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

QWidget* WindowBuilder::make(const ImageView& model) {
    return new PictureView(model);
}

QWidget* WindowBuilder::make(const StatusDot& model) {
    return new DotView(model.diameter, model.colour);
}

QWidget* WindowBuilder::make(const FlexibleSpace&) {
    return new QWidget;
}

QWidget* WindowBuilder::make(const StackedBarChart& model) {
    return new BarChartView(model);
}

void WindowBuilder::registerControl(const ControlId& id, QWidget* widget) {
    if (id.empty()) {
        return;
    }
    widget->setObjectName(qs(id));
    register_(id, widget);
}

SegmentedWidget::SegmentedWidget(const SegmentedControl& model, QWidget* parent)
    : SegmentTrack(parent) {
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
    QObject::connect(group_, &QButtonGroup::idClicked, this, [action = model.action](int index) {
        if (action) {
            action(index);
        }
    });
}

void SegmentedWidget::select(int index) {
    if (QAbstractButton* button = group_->button(index)) {
        button->setChecked(true);
    }
}

void setLabelText(QLabel* label, const std::string& text) {
    label->setText(qs(text));
    fitText(label);
    if (label->property(kNoteProperty).toBool()) {
        label->setVisible(!text.empty());
    }
}

void setSliderValue(QSlider* slider, double value) {
    const double low = slider->property(kSliderMinimumProperty).toDouble();
    const double high = slider->property(kSliderMaximumProperty).toDouble();
    int position = 0;
    if (high > low) {
        const double clamped = std::clamp(value, low, high);
        position = static_cast<int>(std::lround((clamped - low) / (high - low) * kSliderSteps));
    }
    slider->setValue(position);
}

}  // namespace vurin
