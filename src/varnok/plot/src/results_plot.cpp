#include "varnok/plot/results_plot.h"

#include <QApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QThread>
#include <QtCharts/QChart>
#include <algorithm>
#include <cmath>

#include "mark_drawing.h"
#include "panel_chart.h"
#include "varnok/errors.h"
#include "varnok/plot/plot_layout.h"

namespace varnok::plot {

using QtCharts::QChart;

namespace {

// Pixels.
constexpr double kMargin = 16;
constexpr double kPlotHeight = 170;  // of a panel when the picture's height follows the panels
constexpr double kMinPlotHeight = 60;
constexpr double kPanelGap = 14;
constexpr double kTrialHeight = 400;

std::string cannot_write(const std::filesystem::path& path, const QString& why) {
  return "cannot write the plot to " + path.string() + ": " + why.toStdString();
}

void save(const QImage& image, const std::filesystem::path& path) {
  // Written beside and renamed: a failed write leaves no half picture.
  QSaveFile file(QFile::decodeName(path.c_str()));
  if (!file.open(QIODevice::WriteOnly)) throw RunError(cannot_write(path, file.errorString()));
  QImageWriter writer(&file, "png");
  if (!writer.write(image)) {
    file.cancelWriting();
    throw RunError(cannot_write(path, writer.errorString()));
  }
  if (!file.commit()) throw RunError(cannot_write(path, file.errorString()));
}

}  // namespace

void write_png(const Results& results, const std::filesystem::path& path, PlotSize size) {
  check_drawable(results, size);
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr || QThread::currentThread() != app->thread())
    throw RunError("drawing the plot " + path.string() + " needs the GUI thread of a QApplication");

  const QFont title_font = pixel_font(20, true);
  const double width = size.width;
  const auto panels = panels_of(results.tags.size());
  const auto panel_count = static_cast<double>(panels.size());
  const Range periods = period_range(results);

  // Each chart laid out alone first: its plot area tells what its labels,
  // legend and axes take around it. Then all plots get the same left and
  // right edges, so that the panels and the marks line up.
  QGraphicsScene scene;
  std::vector<QChart*> charts;
  std::vector<QRectF> trial;
  for (std::size_t p = 0; p < panels.size(); ++p) {
    QChart* chart = make_panel_chart(results, panels[p], periods, p + 1 == panels.size());
    scene.addItem(chart);
    chart->setGeometry(QRectF(0, 0, width, kTrialHeight));
    chart->layout()->activate();
    charts.push_back(chart);
    trial.push_back(chart->plotArea());
  }
  double plot_left = 0;
  double plot_right = width;
  for (const QRectF& plot : trial) {
    plot_left = std::max(plot_left, plot.left());
    plot_right = std::min(plot_right, plot.right());
  }
  plot_left += kMargin;
  plot_right = std::min(plot_right, width - kMargin - 8);
  for (QChart* chart : charts) set_period_ticks(*chart, periods, plot_right - plot_left);

  const MarkNumbers numbers(results, pixel_font(13, true), QRectF(plot_left, 0, plot_right - plot_left, 1),
                            periods);
  const MarkKey key(results, pixel_font(13, true), pixel_font(14), width - 2 * kMargin);

  // Down: title, marks' numbers, panels, key. A panel starts just under the
  // plot above it (charts are transparent): what an upper chart keeps under
  // its plot is room for period labels that only the bottom panel shows.
  const double title_height = results.title.empty() ? 0 : QFontMetricsF(title_font).height() + 10;
  double fixed = 2 * kMargin + title_height + numbers.height() + key.height() +
                 (panel_count - 1) * kPanelGap + kTrialHeight - trial.back().bottom();
  for (const QRectF& plot : trial) fixed += plot.top();
  double plot_height = kPlotHeight;
  if (size.height != 0) {
    plot_height = std::floor((size.height - fixed) / panel_count);
    if (plot_height < kMinPlotHeight)
      throw UsageError("cannot draw the results: a height of " + std::to_string(size.height) +
                       " pixels is too small for " + std::to_string(panels.size()) + " panels (at least " +
                       std::to_string(static_cast<int>(std::ceil(fixed + kMinPlotHeight * panel_count))) +
                       ")");
  }
  const int height =
      size.height != 0 ? size.height : static_cast<int>(std::ceil(fixed + plot_height * panel_count));

  const double numbers_bottom = kMargin + title_height + numbers.height();
  std::vector<QRectF> plots;
  double top = numbers_bottom;
  double bottom = top;
  for (std::size_t p = 0; p < charts.size(); ++p) {
    const double left = plot_left - trial[p].left();
    const double narrower = trial[p].right() - plot_right;
    const double chart_height = kTrialHeight - trial[p].height() + plot_height;
    charts[p]->setGeometry(QRectF(left, top, width - left - narrower, chart_height));
    charts[p]->layout()->activate();
    plots.push_back(charts[p]->mapRectToScene(charts[p]->plotArea()));
    bottom = top + chart_height;
    top = plots.back().bottom() + kPanelGap;
  }

  QImage image(size.width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
  scene.render(&painter, QRectF(0, 0, width, height), QRectF(0, 0, width, height));
  if (!results.title.empty()) {
    painter.setFont(title_font);
    painter.setPen(Qt::black);
    const QRectF box(kMargin, kMargin, width - 2 * kMargin, title_height);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop,
                     QFontMetricsF(title_font)
                         .elidedText(QString::fromStdString(results.title), Qt::ElideRight, box.width()));
  }
  draw_mark_lines(painter, plots, results, periods);
  numbers.draw(painter, numbers_bottom);  // above the top panel's legend, in line with the marks
  key.draw(painter, QPointF(kMargin, bottom));
  painter.end();
  save(image, path);
}

}  // namespace varnok::plot
