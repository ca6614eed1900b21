#pragma once

#include <QLabel>
#include <QString>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>

#include "opc_hublet_worker.h"
#include "varnok/defaults.h"

class QCloseEvent;
class QPoint;

namespace varnok::quorra {

// The OPC UA viewer: a two-column table (node name, live value) of one tag
// group, with a status line under it. Double-clicking a value asks for a new
// one and hands it to the worker, which writes it to the server while the
// window carries on; the status line then says whether it was written (or
// why not), and the row shows the value the server holds. A value that is
// not live (bad status, or no answer) stays on screen greyed, with the
// reason as its tool tip. Closing the window stops the worker; it returns
// within a second whatever the server or the database do.
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

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QTableWidget* table_widget_;
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
