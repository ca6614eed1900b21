#pragma once

// The marks of a results plot: a line or band in every panel, the marks'
// numbers above the top panel and the numbered key under the panels.

#include <QFont>
#include <QPainter>
#include <QRectF>
#include <QSizeF>
#include <cstdint>
#include <vector>

#include "varnok/plot/plot_layout.h"
#include "varnok/plot/results_plot.h"

namespace varnok::plot {

// Where `period` falls across `plot`.
double x_of(const QRectF& plot, Range periods, std::int64_t period);

void draw_mark_lines(QPainter& painter, const std::vector<QRectF>& plots, const Results& results,
                     Range periods);

// The numbers in rows, a row more wherever two would overlap.
class MarkNumbers {
 public:
  MarkNumbers(const Results& results, QFont font, const QRectF& plot, Range periods);
  double height() const noexcept { return height_; }
  void draw(QPainter& painter, double bottom) const;

 private:
  QFont font_;
  QSizeF box_;
  std::vector<double> centres_;
  std::vector<int> rows_;
  double height_ = 0;
};

// A mark's number and what it was, in columns as wide as the longest line,
// read down then across.
class MarkKey {
 public:
  MarkKey(const Results& results, QFont number_font, QFont text_font, double width);
  double height() const noexcept;
  void draw(QPainter& painter, QPointF top_left) const;

 private:
  const Results& results_;
  QFont number_font_;
  QFont text_font_;
  QSizeF box_;
  double column_width_ = 0;
  double line_height_ = 0;
  std::size_t rows_ = 0;
};

}  // namespace varnok::plot
