#include "panel_chart.h"

#include <QGraphicsLayout>
#include <QPen>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>

namespace varnok::plot {

using namespace QtCharts;

namespace {

constexpr int kAxisFont = 13;
constexpr int kLegendFont = 14;
constexpr int kValueTicks = 5;               // asked for; rounding to nice numbers may change it
constexpr double kPixelsPerPeriodTick = 90;  // room for a label such as "12000"

// Distinct from each other and from the grey of the marks, in the order tags get them.
constexpr QRgb kLineColors[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x7f7f7f};

QColor line_color(std::size_t tag) {
  return QColor(kLineColors[tag % std::size(kLineColors)]);
}

QPen line_pen(std::size_t tag) {
  // Flat caps: QtCharts draws a line segment by segment, and overlapping
  // caps would dot every joint.
  return QPen(line_color(tag), 2, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
}

QValueAxis* value_axis(Range range) {
  auto* axis = new QValueAxis;
  axis->setRange(range.low, range.high);
  axis->setTickCount(kValueTicks);
  axis->applyNiceNumbers();
  const double step = (axis->max() - axis->min()) / std::max(axis->tickCount() - 1, 1);
  axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals_for(step)));
  axis->setLabelsFont(pixel_font(kAxisFont));
  return axis;
}

QValueAxis* period_axis(Range periods, bool bottom) {
  auto* axis = new QValueAxis;
  axis->setRange(periods.low, periods.high);
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  // Refined by set_period_ticks once the plot's width is known; with no
  // interval at all QtCharts would make labels without end.
  axis->setTickInterval(static_cast<double>(period_step(periods.high - periods.low, 10)));
  axis->setLabelFormat(QStringLiteral("%.0f"));
  axis->setLabelsFont(pixel_font(kAxisFont));
  // Upper panels keep the grid but leave the numbers to the bottom one.
  axis->setLabelsVisible(bottom);
  if (bottom) {
    axis->setTitleText(QStringLiteral("period"));
    axis->setTitleFont(pixel_font(kLegendFont));
  }
  return axis;
}

// The lines of one tag: a series per unbroken run, a dot for a lone value,
// only the first in the legend; a tag without values is still listed.
void add_tag(QChart& chart, QValueAxis& x, QValueAxis& y, const Results& results, std::size_t tag) {
  const QString name = QString::fromStdString(results.tags[tag]);
  bool listed = false;
  const auto add = [&](QXYSeries* series) {
    chart.addSeries(series);
    series->attachAxis(&x);
    series->attachAxis(&y);
    if (listed) {
      for (QLegendMarker* marker : chart.legend()->markers(series)) marker->setVisible(false);
    }
    listed = true;
  };
  const std::vector<double>& column = results.columns[tag];
  const auto runs = value_runs(column);
  for (const auto& [first, last] : runs) {
    QVector<QPointF> points;
    points.reserve(static_cast<int>(last - first));
    for (std::size_t row = first; row < last; ++row)
      points.append(QPointF(static_cast<double>(results.periods[row]), column[row]));
    QXYSeries* series = nullptr;
    if (points.size() == 1) {
      auto* dot = new QScatterSeries;
      dot->setMarkerSize(6);
      dot->setBorderColor(line_color(tag));
      series = dot;
    } else {
      series = new QLineSeries;
    }
    series->setPen(line_pen(tag));
    series->setColor(line_color(tag));
    series->setName(name);
    series->replace(points);
    add(series);
  }
  if (runs.empty()) {
    auto* empty = new QLineSeries;
    empty->setPen(line_pen(tag));
    empty->setName(name + QStringLiteral(" (no values)"));
    add(empty);
  }
}

}  // namespace

QFont pixel_font(int pixels, bool bold) {
  QFont font;
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QChart* make_panel_chart(const Results& results, const std::vector<std::size_t>& tags, Range periods,
                         bool bottom) {
  auto* chart = new QChart;
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->setBackgroundVisible(false);
  chart->setDropShadowEnabled(false);
  chart->setMargins(QMargins(0, 0, 0, 0));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->legend()->setAlignment(Qt::AlignTop);
  chart->legend()->setFont(pixel_font(kLegendFont));
  QValueAxis* x = period_axis(periods, bottom);
  QValueAxis* y = value_axis(value_range(results, tags));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (const std::size_t tag : tags) add_tag(*chart, *x, *y, results, tag);
  return chart;
}

void set_period_ticks(QChart& chart, Range periods, double plot_width) {
  const auto most = static_cast<int>(std::max(plot_width / kPixelsPerPeriodTick, 1.0));
  for (QAbstractAxis* axis : chart.axes(Qt::Horizontal)) {
    if (auto* values = qobject_cast<QValueAxis*>(axis))
      values->setTickInterval(static_cast<double>(period_step(periods.high - periods.low, most)));
  }
}

}  // namespace varnok::plot
