#include "mark_drawing.h"

#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <cmath>
#include <utility>

namespace varnok::plot {

namespace {

constexpr int kMostNumberRows = 4;
constexpr double kKeyGap = 12;  // between the panels and the key
const QColor kMarkColor(0x3a, 0x3a, 0x4a);

QSizeF number_box(const QFont& font, std::size_t count) {
  const QFontMetricsF metrics(font);
  return {metrics.horizontalAdvance(QString::number(count)) + 10, metrics.height() + 4};
}

void draw_number(QPainter& painter, const QRectF& box, std::size_t index) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(kMarkColor);
  painter.drawRoundedRect(box, 3, 3);
  painter.setPen(Qt::white);
  painter.drawText(box, Qt::AlignCenter, QString::number(index + 1));
}

}  // namespace

double x_of(const QRectF& plot, Range periods, std::int64_t period) {
  return plot.left() +
         (static_cast<double>(period) - periods.low) / (periods.high - periods.low) * plot.width();
}

void draw_mark_lines(QPainter& painter, const std::vector<QRectF>& plots, const Results& results,
                     Range periods) {
  // A dashed line where a mark starts; over a span, a shaded band closed by
  // a thin line.
  QColor band = kMarkColor;
  band.setAlpha(28);
  for (const QRectF& plot : plots) {
    painter.save();
    painter.setClipRect(plot.adjusted(0, 0, 1, 1));
    for (const Mark& mark : results.marks) {
      const double from = x_of(plot, periods, mark.from);
      if (mark.to > mark.from) {
        const double to = x_of(plot, periods, mark.to);
        painter.fillRect(QRectF(from, plot.top(), to - from, plot.height()), band);
        painter.setPen(QPen(kMarkColor, 1));
        painter.drawLine(QPointF(to, plot.top()), QPointF(to, plot.bottom()));
      }
      painter.setPen(QPen(kMarkColor, 1.5, Qt::DashLine));
      painter.drawLine(QPointF(from, plot.top()), QPointF(from, plot.bottom()));
    }
    painter.restore();
  }
}

MarkNumbers::MarkNumbers(const Results& results, QFont font, const QRectF& plot, Range periods)
    : font_(std::move(font)), box_(number_box(font_, results.marks.size())) {
  for (const Mark& mark : results.marks) centres_.push_back(x_of(plot, periods, mark.from));
  rows_ = label_rows(centres_, box_.width(), kMostNumberRows);
  const int row_count = rows_.empty() ? 0 : *std::max_element(rows_.begin(), rows_.end()) + 1;
  height_ = row_count * (box_.height() + 2);
}

void MarkNumbers::draw(QPainter& painter, double bottom) const {
  painter.setFont(font_);
  for (std::size_t i = 0; i < centres_.size(); ++i) {
    const double top = bottom - (rows_[i] + 1) * (box_.height() + 2);
    draw_number(painter, QRectF(QPointF(centres_[i] - box_.width() / 2, top), box_), i);
  }
}

MarkKey::MarkKey(const Results& results, QFont number_font, QFont text_font, double width)
    : results_(results),
      number_font_(std::move(number_font)),
      text_font_(std::move(text_font)),
      box_(number_box(number_font_, results.marks.size())) {
  if (results.marks.empty()) return;
  const QFontMetricsF text(text_font_);
  double longest = 0;
  for (const Mark& mark : results.marks)
    longest = std::max(longest, text.horizontalAdvance(QString::fromStdString(mark_text(mark))));
  line_height_ = std::max(text.height(), box_.height()) + 4;
  const double needed = box_.width() + 8 + longest + 24;
  const auto columns = static_cast<std::size_t>(
      std::clamp(std::floor(width / needed), 1.0, static_cast<double>(results.marks.size())));
  rows_ = (results.marks.size() + columns - 1) / columns;
  // The columns share the width; a line longer than all of it is elided.
  column_width_ = width / static_cast<double>(columns);
}

double MarkKey::height() const noexcept {
  return rows_ == 0 ? 0 : kKeyGap + static_cast<double>(rows_) * line_height_;
}

void MarkKey::draw(QPainter& painter, QPointF top_left) const {
  const QFontMetricsF text(text_font_);
  for (std::size_t i = 0; i < results_.marks.size(); ++i) {
    const QPointF at = top_left + QPointF(static_cast<double>(i / rows_) * column_width_,
                                          kKeyGap + static_cast<double>(i % rows_) * line_height_);
    painter.setFont(number_font_);
    draw_number(painter, QRectF(at, box_), i);
    painter.setFont(text_font_);
    painter.setPen(Qt::black);
    const QRectF line(at.x() + box_.width() + 8, at.y(), column_width_ - box_.width() - 16, box_.height());
    painter.drawText(
        line, Qt::AlignLeft | Qt::AlignVCenter,
        text.elidedText(QString::fromStdString(mark_text(results_.marks[i])), Qt::ElideRight, line.width()));
  }
}

}  // namespace varnok::plot
