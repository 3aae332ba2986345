#pragma once

#include <QWidget>

#include "app/window_model.h"

namespace vurin {

// Draws a StackedBarChart: the legend along the top, the bars below with the scale's top
// value at the left; colours from the window theme at paint time, so it follows light and dark.
class BarChartView : public QWidget {
  public:
    explicit BarChartView(StackedBarChart chart, QWidget* parent = nullptr);
    void setChart(StackedBarChart chart);
    const StackedBarChart& chart() const { return chart_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    StackedBarChart chart_;
};

}  // namespace vurin
