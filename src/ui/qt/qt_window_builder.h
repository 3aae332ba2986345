#pragma once

#include <QLabel>
#include <QSlider>
#include <QWidget>
#include <functional>

#include "app/window_model.h"
#include "ui/qt/qt_window_widgets.h"

class QHBoxLayout;
class QLayout;
class QVBoxLayout;

namespace vurin {

// Builds the widgets of a window model's panes, cards and controls, and hands each control that
// has an id to `registerControl` (its widget carries the id as its object name).
class WindowBuilder {
  public:
    using Register = std::function<void(const ControlId& id, QWidget* widget)>;
    explicit WindowBuilder(Register registerControl);

    QWidget* pane(const Pane& model);
    QWidget* card(const Card& model);

  private:
    QLayout* cardHeader(const Card& model);
    void add(QVBoxLayout* layout, const RowBlock& row);
    void add(QVBoxLayout* layout, const NoteBlock& note);
    void add(QVBoxLayout* layout, const ControlRowBlock& row);
    void addControl(QHBoxLayout* line, const Control& control);
    QWidget* make(const Label& model);
    QWidget* make(const Button& model);
    QWidget* make(const Switch& model);
    QWidget* make(const SegmentedControl& model);
    QWidget* make(const Slider& model);
    QWidget* make(const PopUpButton& model);
    QWidget* make(const SecureTextField& model);
    QWidget* make(const ImageView& model);
    QWidget* make(const StatusDot& model);
    QWidget* make(const FlexibleSpace& model);
    QWidget* make(const StackedBarChart& model);
    void registerControl(const ControlId& id, QWidget* widget);

    Register register_;
};

// A row of mutually exclusive buttons on one track.
class SegmentedWidget : public SegmentTrack {
  public:
    SegmentedWidget(const SegmentedControl& model, QWidget* parent);
    void select(int index);

  private:
    class QButtonGroup* group_;
};

// A label's text as the logic sets it later: a label made to fit its width is fitted again, a
// note with no text takes no room.
void setLabelText(QLabel* label, const std::string& text);
// A label's colour by role, kept when the palette turns light or dark.
void setLabelColour(QLabel* label, ColourRole role);
// The colour of the label's role for the current palette.
void applyColour(QLabel* label);
// A slider's value in the model's range (its signals are the caller's concern).
void setSliderValue(QSlider* slider, double value);

}  // namespace vurin
