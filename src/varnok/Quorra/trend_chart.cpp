#include "trend_chart.h"

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace varnok::quorra {

using namespace QtCharts;

namespace {

qint64 msecs_of(tessaly::TrendTime at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

QString window_label(std::chrono::minutes window) {
  return QStringLiteral("%1 min").arg(window.count());
}

}  // namespace

TrendChart::TrendChart(QWidget* parent)
    : QWidget(parent),
      set_(kWindows[0]),
      chart_(new QChart),
      view_(new QChartView(chart_, this)),
      time_axis_(new QDateTimeAxis),
      value_axis_(new QValueAxis),
      window_box_(new QComboBox(this)),
      pause_button_(new QPushButton(QStringLiteral("Pause"), this)),
      ask_path_([](QWidget* parent_widget, const QString& caption, const QString& filter) {
        return QFileDialog::getSaveFileName(parent_widget, caption, QString(), filter);
      }) {
  chart_->legend()->setVisible(true);
  chart_->legend()->setAlignment(Qt::AlignBottom);
  time_axis_->setFormat(QStringLiteral("HH:mm:ss"));
  time_axis_->setTitleText(QStringLiteral("time"));
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  chart_->addAxis(value_axis_, Qt::AlignLeft);
  view_->setRenderHint(QPainter::Antialiasing, false);
  view_->setObjectName(QStringLiteral("trend_view"));

  for (const std::chrono::minutes window : kWindows)
    window_box_->addItem(window_label(window), static_cast<int>(window.count()));
  window_box_->setObjectName(QStringLiteral("trend_window"));
  connect(window_box_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          [this](int index) { set_window(std::chrono::minutes(window_box_->itemData(index).toInt())); });
  pause_button_->setCheckable(true);
  pause_button_->setObjectName(QStringLiteral("trend_pause"));
  connect(pause_button_, &QPushButton::toggled, this, &TrendChart::set_paused);
  auto* png_button = new QPushButton(QStringLiteral("Save PNG…"), this);
  auto* csv_button = new QPushButton(QStringLiteral("Export CSV…"), this);
  connect(png_button, &QPushButton::clicked, this, &TrendChart::ask_and_save_png);
  connect(csv_button, &QPushButton::clicked, this, &TrendChart::ask_and_save_csv);

  auto* controls = new QHBoxLayout;
  controls->addWidget(window_box_);
  controls->addWidget(pause_button_);
  controls->addStretch(1);
  controls->addWidget(png_button);
  controls->addWidget(csv_button);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(controls);
  layout->addWidget(view_, 1);
  redraw();
}

TrendChart::~TrendChart() = default;

void TrendChart::set_database(const tsdbpy::conn::Settings& settings) {
  // The answer crosses to the GUI thread by value; one arriving after this
  // widget is gone is dropped with it.
  history_ = std::make_unique<tessaly::HistoryReader>(settings, [this](tessaly::HistoryAnswer answer) {
    QMetaObject::invokeMethod(
        this, [this, answer = std::move(answer)]() mutable { merge(std::move(answer)); },
        Qt::QueuedConnection);
  });
}

void TrendChart::add_tag(const QString& node_id) {
  const std::string tag = node_id.toStdString();
  if (!set_.add(tag)) return;
  auto* line = new QLineSeries;
  line->setName(node_id);
  chart_->addSeries(line);
  line->attachAxis(time_axis_);
  line->attachAxis(value_axis_);
  lines_[tag] = line;
  fill_back({tag});
  redraw();
}

void TrendChart::remove_tag(const QString& node_id) {
  const std::string tag = node_id.toStdString();
  if (!set_.remove(tag)) return;
  const auto it = lines_.find(tag);
  chart_->removeSeries(it->second);
  delete it->second;
  lines_.erase(it);
  redraw();
}

QLineSeries* TrendChart::series(const QString& node_id) const {
  const auto it = lines_.find(node_id.toStdString());
  return it == lines_.end() ? nullptr : it->second;
}

void TrendChart::set_window(std::chrono::seconds window) {
  const bool longer = window > set_.window();
  set_.set_window(window);
  const int index = window_box_->findData(
      static_cast<int>(std::chrono::duration_cast<std::chrono::minutes>(window).count()));
  if (index >= 0 && index != window_box_->currentIndex()) window_box_->setCurrentIndex(index);
  if (longer) fill_back(set_.tags());
  redraw();
}

void TrendChart::set_paused(bool paused) {
  paused_ = paused;
  if (pause_button_->isChecked() != paused) pause_button_->setChecked(paused);
  pause_button_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  if (!paused) redraw();
}

void TrendChart::add_poll(const tessaly::PolledNumbers& numbers) {
  if (set_.empty()) return;
  set_.add_poll(numbers);
  if (!paused_) redraw();
}

void TrendChart::fill_back(std::vector<std::string> tags) {
  if (!history_ || tags.empty()) return;
  const tessaly::TrendTime now = std::chrono::system_clock::now();
  history_->request({.tags = std::move(tags), .from = now - set_.window(), .to = now});
}

void TrendChart::merge(tessaly::HistoryAnswer answer) {
  if (!answer.error.empty()) emit said(QString::fromStdString(answer.error));
  for (const auto& [tag, samples] : answer.series) set_.add_history(tag, samples);
  if (!paused_) redraw();
  emit history_merged();
}

void TrendChart::redraw() {
  shown_to_ = set_.latest().value_or(std::chrono::system_clock::now());
  shown_from_ = shown_to_ - set_.window();
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const auto& [tag, line] : lines_) {
    const tessaly::TrendSeries& data = *set_.series(tag);
    const auto [first, last] = data.range(shown_from_, shown_to_);
    for (std::size_t i = first; i < last; ++i) {
      const double value = data.samples()[i].value;
      if (std::isfinite(value)) {
        low = std::min(low, value);
        high = std::max(high, value);
      }
    }
  }
  if (low > high) {
    low = 0;
    high = 1;
  }
  // A flat line sits in the middle; otherwise a little room above and below.
  const double margin = high > low ? (high - low) * 0.05 : std::max(std::abs(high) * 0.05, 1.0);
  value_axis_->setRange(low - margin, high + margin);
  value_axis_->applyNiceNumbers();  // ticks on round values, the range widened to them
  time_axis_->setRange(QDateTime::fromMSecsSinceEpoch(msecs_of(shown_from_)),
                       QDateTime::fromMSecsSinceEpoch(msecs_of(shown_to_)));

  // A lowest and a highest value per two pixels: a line as it would look
  // with all of them, and QtCharts' cost of a line grows with its points.
  const auto columns = static_cast<std::size_t>(std::max(1.0, chart_->plotArea().width() / 2));
  QVector<QPointF> points;
  for (const auto& [tag, line] : lines_) {
    const std::vector<tessaly::TrendSample> drawn =
        tessaly::trend_envelope(*set_.series(tag), shown_from_, shown_to_, columns);
    points.clear();
    points.reserve(static_cast<int>(drawn.size()));
    for (const tessaly::TrendSample& s : drawn)
      points.append(QPointF(static_cast<double>(msecs_of(s.at)), s.value));
    line->replace(points);
  }
}

bool TrendChart::save_png(const QString& path) const {
  return view_->grab().save(path, "PNG");
}

bool TrendChart::save_csv(const QString& path) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const std::string csv = tessaly::trend_csv(set_, shown_from_, shown_to_);
  return file.write(csv.data(), static_cast<qint64>(csv.size())) == static_cast<qint64>(csv.size());
}

void TrendChart::ask_and_save_png() {
  const QString path =
      ask_path_(this, QStringLiteral("Save the trend as PNG"), QStringLiteral("PNG (*.png)"));
  if (!path.isEmpty() && !save_png(path)) emit said(QStringLiteral("Trend not saved: cannot write ") + path);
}

void TrendChart::ask_and_save_csv() {
  const QString path =
      ask_path_(this, QStringLiteral("Export the shown range as CSV"), QStringLiteral("CSV (*.csv)"));
  if (!path.isEmpty() && !save_csv(path))
    emit said(QStringLiteral("Trend not exported: cannot write ") + path);
}

}  // namespace varnok::quorra
