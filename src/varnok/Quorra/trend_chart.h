#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "trend_data.h"
#include "trend_history.h"

class QComboBox;
class QPushButton;

namespace QtCharts {
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
}  // namespace QtCharts

namespace varnok::quorra {

// The viewer's trend: a line against time per tag put on it, live at the
// polling rate, over a chosen window (1, 10 or 60 minutes), axes scaled to
// what is shown, with a legend, pause and resume, the chart saved as PNG and
// the shown range as CSV. The data live in a tessaly::TrendSet; a tag put on
// the trend, or a longer window, is filled back from the database on the
// history reader's thread.
class TrendChart : public QWidget {
  Q_OBJECT

 public:
  explicit TrendChart(QWidget* parent = nullptr);
  ~TrendChart() override;

  // Where the history comes from (the recorder's database); empty settings:
  // no filling back. Until called, nothing is filled back either.
  void set_database(const tsdbpy::conn::Settings& settings);

  // Puts a tag (a node id such as 2:T1.PV) on the trend or takes it off.
  void add_tag(const QString& node_id);
  void remove_tag(const QString& node_id);
  bool has_tag(const QString& node_id) const { return set_.contains(node_id.toStdString()); }

  // The windows offered.
  static constexpr std::chrono::minutes kWindows[] = {std::chrono::minutes(1), std::chrono::minutes(10),
                                                      std::chrono::minutes(60)};
  void set_window(std::chrono::seconds window);
  std::chrono::seconds window() const { return set_.window(); }

  // Paused, the chart stays as it is while the values go on being kept.
  void set_paused(bool paused);
  bool paused() const noexcept { return paused_; }

  // Write the chart as shown / the values of the shown range; false when the
  // file cannot be written.
  bool save_png(const QString& path) const;
  bool save_csv(const QString& path) const;

  // Asks where to save: (caption, file filter) -> path, empty when
  // cancelled. Defaults to QFileDialog::getSaveFileName; tests replace it.
  using PathAsker = std::function<QString(QWidget*, const QString&, const QString&)>;
  void set_path_asker(PathAsker asker) { ask_path_ = std::move(asker); }

  // For tests and benchmarks.
  const tessaly::TrendSet& data() const noexcept { return set_; }
  QtCharts::QLineSeries* series(const QString& node_id) const;
  QtCharts::QChartView* chart_view() const noexcept { return view_; }
  tessaly::TrendTime shown_from() const noexcept { return shown_from_; }
  tessaly::TrendTime shown_to() const noexcept { return shown_to_; }

 public slots:
  void add_poll(const varnok::tessaly::PolledNumbers& numbers);
  // Draws the kept values of the window ending at the newest one.
  void redraw();

 signals:
  // A history answer was merged (or failed: said() tells why).
  void history_merged();
  // A line for the user (a failed back-fill or export).
  void said(const QString& line);

 private:
  void fill_back(std::vector<std::string> tags);
  void merge(tessaly::HistoryAnswer answer);
  void ask_and_save_png();
  void ask_and_save_csv();

  tessaly::TrendSet set_;
  std::unique_ptr<tessaly::HistoryReader> history_;
  std::map<std::string, QtCharts::QLineSeries*> lines_;
  QtCharts::QChart* chart_;
  QtCharts::QChartView* view_;
  QtCharts::QDateTimeAxis* time_axis_;
  QtCharts::QValueAxis* value_axis_;
  QComboBox* window_box_;
  QPushButton* pause_button_;
  bool paused_ = false;
  tessaly::TrendTime shown_from_{};
  tessaly::TrendTime shown_to_{};
  PathAsker ask_path_;
};

}  // namespace varnok::quorra
