#include "ui/qt/qt_window_widgets.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <cstring>

namespace vurin {
namespace {

constexpr qreal kCardRadius = 11;
constexpr qreal kSegmentRadius = 6;
constexpr int kSegmentPadding = 12;

QColor grey(qreal level) {
    return QColor::fromRgbF(static_cast<float>(level), static_cast<float>(level),
                            static_cast<float>(level));
}

QColor withAlpha(QColor colour, qreal alpha) {
    colour.setAlphaF(static_cast<float>(alpha));
    return colour;
}

class WheelNeedsFocus : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus()) {
            return false;
        }
        event->ignore();  // unaccepted, it is offered to the parents
        return true;
    }
};

}  // namespace

void takeWheelOnlyWithFocus(QWidget* control) {
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new WheelNeedsFocus(control));
}

WindowTheme WindowTheme::current() {
    const QPalette palette = QApplication::palette();
    WindowTheme theme;
    theme.dark = palette.color(QPalette::Window).lightness() < 128;
    if (theme.dark) {
        theme.windowBackground = grey(0.11);
        theme.cardFill = grey(0.17);
        theme.cardBorder = withAlpha(Qt::white, 0.08);
        theme.hairline = withAlpha(Qt::white, 0.07);
    } else {
        theme.windowBackground = grey(0.925);
        theme.cardFill = Qt::white;
        theme.cardBorder = withAlpha(Qt::black, 0.09);
        theme.hairline = withAlpha(Qt::black, 0.07);
    }
    return theme;
}

QColor WindowTheme::colour(ColourRole role) const {
    const QPalette palette = QApplication::palette();
    const QColor text = palette.color(QPalette::WindowText);
    switch (role) {
        case ColourRole::primary:
            return text;
        case ColourRole::secondary:
            return withAlpha(text, 0.6);
        case ColourRole::tertiary:
            return withAlpha(text, 0.4);
        case ColourRole::accent:
            return palette.color(QPalette::Highlight);
        case ColourRole::green:
            return dark ? QColor(0x30, 0xd1, 0x58) : QColor(0x1f, 0x9d, 0x3f);
        case ColourRole::orange:
            return dark ? QColor(0xff, 0x9f, 0x0a) : QColor(0xd9, 0x73, 0x00);
        case ColourRole::red:
            return dark ? QColor(0xff, 0x45, 0x3a) : QColor(0xd7, 0x26, 0x1e);
    }
    return text;
}

CardFrame::CardFrame(QWidget* parent) : QFrame(parent) {}

void CardFrame::paintEvent(QPaintEvent*) {
    const WindowTheme theme = WindowTheme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(theme.cardBorder, 1));
    painter.setBrush(theme.cardFill);
    painter.drawRoundedRect(bounds, kCardRadius, kCardRadius);
}

Hairline::Hairline(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Hairline::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), WindowTheme::current().hairline);
}

SwitchButton::SwitchButton(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SwitchButton::sizeHint() const {
    return {38, 22};
}

void SwitchButton::paintEvent(QPaintEvent*) {
    const WindowTheme theme = WindowTheme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    QColor fill = isChecked() ? theme.colour(ColourRole::accent)
                              : withAlpha(theme.colour(ColourRole::primary), 0.2);
    if (!isEnabled()) {
        fill.setAlphaF(fill.alphaF() * 0.5f);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.setPen(QPen(withAlpha(Qt::black, 0.15), 0.5));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

SegmentTrack::SegmentTrack(QWidget* parent) : QWidget(parent) {}

void SegmentTrack::paintEvent(QPaintEvent*) {
    const WindowTheme theme = WindowTheme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = withAlpha(theme.colour(ColourRole::primary), theme.dark ? 0.10 : 0.06);
    QColor border = withAlpha(theme.colour(ColourRole::primary), theme.dark ? 0.25 : 0.22);
    if (!isEnabled()) {
        fill.setAlphaF(fill.alphaF() * 0.5f);
        border.setAlphaF(border.alphaF() * 0.5f);
    }
    painter.setPen(QPen(border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kSegmentRadius,
                            kSegmentRadius);
}

SegmentButton::SegmentButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize SegmentButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(text()) + 2 * kSegmentPadding, metrics.height() + 10};
}

QSize SegmentButton::minimumSizeHint() const {
    return sizeHint();
}

void SegmentButton::paintEvent(QPaintEvent*) {
    const WindowTheme theme = WindowTheme::current();
    const QPalette palette = QApplication::palette();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(2, 2, -2, -2);
    QColor textColour = theme.colour(ColourRole::primary);
    if (isChecked()) {
        QColor fill = palette.color(QPalette::Highlight);
        if (!isEnabled()) {
            fill.setAlphaF(0.5f);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(bounds, kSegmentRadius - 2, kSegmentRadius - 2);
        textColour = palette.color(QPalette::HighlightedText);
    } else if (isDown() || underMouse()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(withAlpha(theme.colour(ColourRole::primary), isDown() ? 0.16 : 0.08));
        painter.drawRoundedRect(bounds, kSegmentRadius - 2, kSegmentRadius - 2);
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette.color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(-1, -1, 1, 1), kSegmentRadius - 1,
                                kSegmentRadius - 1);
    }
    if (!isEnabled()) {
        textColour.setAlphaF(textColour.alphaF() * 0.5f);
    }
    painter.setPen(textColour);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

ElidingLabel::ElidingLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidingLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

QString ElidingLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void ElidingLabel::paintEvent(QPaintEvent*) {
    // The text may have been replaced since the last resize.
    updateToolTip();
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine,
                     shownText());
}

void ElidingLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

void ElidingLabel::updateToolTip() {
    const QString tip = shownText() == text() ? QString() : text();
    if (toolTip() != tip) {
        setToolTip(tip);
    }
}

QImage imageFromData(const ImageData& data) {
    if (data.width <= 0 || data.height <= 0 ||
        data.gray.size() != static_cast<std::size_t>(data.width) * data.height) {
        return {};
    }
    QImage image(data.width, data.height, QImage::Format_Grayscale8);
    for (int y = 0; y < data.height; ++y) {
        std::memcpy(image.scanLine(y), data.gray.data() + static_cast<std::size_t>(y) * data.width,
                    static_cast<std::size_t>(data.width));
    }
    return image;
}

PictureView::PictureView(const ImageView& model, QWidget* parent)
    : QWidget(parent), whiteBackground_(model.whiteBackground), cornerRadius_(model.cornerRadius) {
    setFixedSize(model.width, model.height);
    setPicture(model.image);
}

void PictureView::setPicture(const std::optional<ImageData>& image) {
    image_ = image ? imageFromData(*image) : QImage();
    update();
}

void PictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(clip);
    if (whiteBackground_) {
        painter.fillRect(rect(), Qt::white);
    }
    if (!image_.isNull()) {
        // Square modules must stay sharp: no smoothing when scaling.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QRectF(rect()), image_);
    }
}

DotView::DotView(int diameter, ColourRole colour, QWidget* parent)
    : QWidget(parent), colour_(colour) {
    setFixedSize(diameter, diameter);
}

void DotView::setColour(ColourRole colour) {
    colour_ = colour;
    update();
}

void DotView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(WindowTheme::current().colour(colour_));
    painter.drawEllipse(QRectF(rect()));
}

}  // namespace vurin
