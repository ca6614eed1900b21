#pragma once

#include <QLabel>
#include <QString>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "opc_hublet_worker.h"
#include "trend_chart.h"
#include "varnok/defaults.h"

class QCloseEvent;
class QMenu;
class QPoint;
class QSplitter;

namespace varnok::quorra {

// The OPC UA viewer: a two-column table (node name, live value) of one tag
// group, with a status line under it. Double-clicking a value asks for a new
// one and hands it to the worker, which writes it to the server while the
// window carries on; the status line then says whether it was written (or
// why not), and the row shows the value the server holds. A value that is
// not live (bad status, or no answer) stays on screen greyed, with the
// reason as its tool tip. Numbers are shown to a few significant digits
// (tessaly::readable_value_text); the full text is the cell's tool tip and
// what Copy and the write dialog take. "Trend" in a row's context menu puts
// its tag on the trend under the table (TrendChart), fed by every poll.
// Closing the window stops the worker; it returns within a second whatever
// the server or the database do.
class UATableWindow : public QWidget {
  Q_OBJECT

 public:
  UATableWindow();
  ~UATableWindow() override;

  struct ViewerSettings {
    QString endpoint =
        QString::fromStdString(defaults::opcua_endpoint(defaults::kHost, defaults::kOpcUaPort));
    int name_space_index = 2;
    QString identifier = QStringLiteral("Demo");
    int sub_interval = 1000;
  };
  // Creates and starts the worker on `identifier`. Call once.
  void start_opcua(const ViewerSettings& settings);
  void start_opcua() { start_opcua(ViewerSettings{}); }

  // The worker, or null before start_opcua.
  tessaly::OPCHubletWorker* worker() const noexcept { return worker_.get(); }
  QTableWidget* table_widget() const noexcept { return table_widget_; }
  QLabel* status_line() const noexcept { return status_line_; }
  TrendChart* trend_chart() const noexcept { return trend_chart_; }

  // The role of a value cell's full text.
  static constexpr int kFullTextRole = Qt::UserRole;
  // The node id (2:T1.PV) of a row, empty when the row has none.
  QString node_id_of_row(int row) const;
  // Puts the tag on the trend, or takes it off; the trend shows while any
  // tag is on it.
  void set_trended(const QString& node_id, bool on);
  // The table's context menu at `pos`: Copy, and Trend (checked while the
  // row's tag is on the trend) on a row.
  std::unique_ptr<QMenu> context_menu(const QPoint& pos);

  // Asks for a new value: (title, label, current text) -> text, or none when
  // cancelled. Defaults to QInputDialog::getText; tests replace it.
  using TextAsker =
      std::function<std::optional<QString>(QWidget*, const QString&, const QString&, const QString&)>;
  void set_text_asker(TextAsker asker) { ask_text_ = std::move(asker); }

  // Where start_opcua's worker records: the simulation historian on this
  // machine unless replaced before start_opcua (tests use a throw-away one;
  // empty settings record nothing).
  static tsdbpy::conn::Settings default_tsdb_settings();
  void set_tsdb_settings(tsdbpy::conn::Settings settings) { tsdb_settings_ = std::move(settings); }

 public slots:
  void on_node_discovered(const QString& node_id_str, const QString& tag_name);
  void on_data_changed(const QString& node_id_str, const QString& value_str);
  // Greys the node's value, keeping the last one when `value_str` is empty.
  void on_data_stale(const QString& node_id_str, const QString& value_str, const QString& status);
  void on_write_finished(const QString& node_id_str, bool ok, const QString& reason);
  void on_session_line(const QString& line);
  void on_cell_double_clicked(int row, int col);
  void on_table_context_menu(const QPoint& pos);
  void copy_cell_content(const QPoint& pos);
  void on_numbers_polled(const varnok::tessaly::PolledNumbers& numbers);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QTableWidgetItem* make_value_item(const QString& full_text) const;

  QSplitter* splitter_;
  QTableWidget* table_widget_;
  TrendChart* trend_chart_;
  QLabel* status_line_;
  std::map<QString, int> nodeid_to_row;
  std::unique_ptr<tessaly::OPCHubletWorker> worker_;
  std::optional<QString> endpoint;
  QString identifier;
  int name_space_index = 2;
  TextAsker ask_text_;
  tsdbpy::conn::Settings tsdb_settings_ = default_tsdb_settings();
};

}  // namespace varnok::quorra
