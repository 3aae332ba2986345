#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QWidget>

#include "app/window_model.h"

namespace vurin {

// The colours of the window chrome and of the colour roles, for the current appearance (dark
// when the application palette's window colour is dark).
struct WindowTheme {
    bool dark = false;
    QColor windowBackground;
    QColor cardFill;
    QColor cardBorder;
    QColor hairline;

    static WindowTheme current();
    QColor colour(ColourRole role) const;
};

// A rounded card: fill, one-point border, corner radius 11, from the theme at paint time so it
// follows light and dark.
class CardFrame : public QFrame {
  public:
    explicit CardFrame(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A one-point separator line inside a card.
class Hairline : public QWidget {
  public:
    explicit Hairline(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// An on/off switch drawn as a pill with a knob.
class SwitchButton : public QAbstractButton {
  public:
    explicit SwitchButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// One segment of a segmented control: the checked one is filled with the palette's highlight
// and drawn in its highlighted text colour, the others stay plain on the control's track.
class SegmentButton : public QAbstractButton {
  public:
    explicit SegmentButton(const QString& text, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The rounded track behind a row of segments.
class SegmentTrack : public QWidget {
  public:
    explicit SegmentTrack(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A one-line label that asks for no width of its own: text wider than the label is cut with an
// ellipsis, and the whole text is then its tooltip.
class ElidingLabel : public QLabel {
  public:
    explicit ElidingLabel(const QString& text, QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;
    // The text as drawn at the current width.
    QString shownText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void updateToolTip();
};

// A picture drawn at a fixed size without smoothing, optionally on white with rounded corners.
class PictureView : public QWidget {
  public:
    PictureView(const ImageView& model, QWidget* parent = nullptr);
    void setPicture(const std::optional<ImageData>& image);
    const QImage& picture() const { return image_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
    bool whiteBackground_ = false;
    int cornerRadius_ = 0;
};

// A small filled circle.
class DotView : public QWidget {
  public:
    DotView(int diameter, ColourRole colour, QWidget* parent = nullptr);
    void setColour(ColourRole colour);
    ColourRole colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    ColourRole colour_;
};

QImage imageFromData(const ImageData& data);

// A wheel turned over `control` changes it only while it has the keyboard focus; otherwise the
// wheel goes on to the pane around it, which scrolls. Neither a wheel nor a hover gives it focus.
void takeWheelOnlyWithFocus(QWidget* control);

}  // namespace vurin
