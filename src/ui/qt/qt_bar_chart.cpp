#include "ui/qt/qt_bar_chart.h"

#include <QPainter>
#include <algorithm>

#include "ui/qt/qt_window_widgets.h"

namespace vurin {
namespace {

constexpr int kLegendHeight = 18;
constexpr int kSwatch = 10;
constexpr int kScaleWidth = 44;
constexpr double kBarGapShare = 0.25;
constexpr int kMaxBarWidth = 14;

QColor seriesColour(const WindowTheme& theme, const StackedBarChart& chart, int series) {
    return series >= 0 && series < static_cast<int>(chart.series.size())
               ? theme.colour(chart.series[static_cast<std::size_t>(series)].colour)
               : theme.colour(ColourRole::secondary);
}

// A cloud part: its colour with light diagonal lines over it, told apart in either palette.
void fillSegment(QPainter& painter, const QRectF& area, const QColor& colour, bool hatched,
                 const WindowTheme& theme) {
    painter.fillRect(area, colour);
    if (hatched) {
        painter.fillRect(area, QBrush(theme.cardFill, Qt::BDiagPattern));
    }
}

}  // namespace

BarChartView::BarChartView(StackedBarChart chart, QWidget* parent)
    : QWidget(parent), chart_(std::move(chart)) {
    setSizePolicy(chart_.width > 0 ? QSizePolicy::Fixed : QSizePolicy::Expanding,
                  QSizePolicy::Fixed);
}

void BarChartView::setChart(StackedBarChart chart) {
    chart_ = std::move(chart);
    update();
}

QSize BarChartView::sizeHint() const {
    return {chart_.width > 0 ? chart_.width : 300, chart_.height > 0 ? chart_.height : 120};
}

void BarChartView::paintEvent(QPaintEvent*) {
    const WindowTheme theme = WindowTheme::current();
    QPainter painter(this);
    QFont small = font();
    small.setPointSizeF(10);
    painter.setFont(small);
    const QColor secondary = theme.colour(ColourRole::secondary);

    // Legend: a swatch and a name per series, then the hatched swatch for the cloud; an entry
    // that does not fit the width starts another line (longer names in English).
    int x = 0, y = 4;
    const auto legendEntry = [&](const QColor& colour, bool hatched, const std::string& name) {
        const QString text = QString::fromStdString(name);
        const int entryWidth = kSwatch + 4 + painter.fontMetrics().horizontalAdvance(text);
        if (x > 0 && x + entryWidth > width()) {
            x = 0;
            y += kLegendHeight;
        }
        fillSegment(painter, QRectF(x, y, kSwatch, kSwatch), colour, hatched, theme);
        painter.setPen(secondary);
        painter.drawText(QPoint(x + kSwatch + 4, y + kSwatch), text);
        x += entryWidth + 10;
    };
    for (std::size_t i = 0; i < chart_.series.size(); ++i) {
        legendEntry(seriesColour(theme, chart_, static_cast<int>(i)), false, chart_.series[i].name);
    }
    if (!chart_.hatchedName.empty()) {
        legendEntry(secondary, true, chart_.hatchedName);
    }

    const double plotTop = y + kLegendHeight + 2;
    const QRectF plot(kScaleWidth, plotTop, width() - kScaleWidth - 1, height() - plotTop - 1);
    painter.setPen(theme.hairline);
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.topLeft(), plot.topRight());
    painter.setPen(secondary);
    painter.drawText(QRectF(0, plot.top() - 6, kScaleWidth - 6, 14),
                     Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(chart_.scaleLabel));
    painter.drawText(QRectF(0, plot.bottom() - 8, kScaleWidth - 6, 14),
                     Qt::AlignRight | Qt::AlignVCenter, "0");
    if (chart_.bars.empty()) {
        painter.drawText(plot, Qt::AlignCenter, QString::fromStdString(chart_.emptyText));
        return;
    }
    // Bars keep their width whatever their number, so a short history starts at the left.
    const double slot = std::min(plot.width() / static_cast<double>(chart_.bars.size()),
                                 kMaxBarWidth / (1 - kBarGapShare));
    const double scale = plot.height() / std::max(chart_.scaleMaximum, 1.0);
    for (std::size_t i = 0; i < chart_.bars.size(); ++i) {
        double bottom = plot.bottom();
        const double left = plot.left() + slot * static_cast<double>(i) + slot * kBarGapShare / 2;
        for (const BarSegment& segment : chart_.bars[i]) {
            const double top = std::max(plot.top(), bottom - segment.value * scale);
            fillSegment(painter, QRectF(left, top, slot * (1 - kBarGapShare), bottom - top),
                        seriesColour(theme, chart_, segment.series), segment.hatched, theme);
            bottom = top;
        }
    }
}

}  // namespace vurin
