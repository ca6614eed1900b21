#include "ua_table_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QSplitter>
#include <QVBoxLayout>
#include <iostream>

#include "readable_value.h"
#include "tsdb_settings.h"

namespace varnok::quorra {

namespace {

// The node name is everything after the node id's first colon.
QString node_name_of(const QString& node_id) {
  const int colon = node_id.indexOf(QLatin1Char(':'));
  return colon < 0 ? node_id : node_id.mid(colon + 1);
}

std::optional<QString> ask_with_dialog(QWidget* parent, const QString& title, const QString& label,
                                       const QString& text) {
  bool ok = false;
  const QString entered = QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, &ok);
  if (!ok) return std::nullopt;
  return entered;
}

}  // namespace

UATableWindow::UATableWindow()
    : splitter_(new QSplitter(Qt::Vertical, this)),
      table_widget_(new QTableWidget(splitter_)),
      trend_chart_(new TrendChart(splitter_)),
      status_line_(new QLabel(this)),
      ask_text_(ask_with_dialog) {
  setWindowTitle(QStringLiteral("OPC UA Viewer"));
  resize(600, 400);
  table_widget_->setColumnCount(2);
  table_widget_->setHorizontalHeaderLabels({QStringLiteral("NodeID"), QStringLiteral("Value")});
  table_widget_->horizontalHeader()->setStretchLastSection(true);
  table_widget_->setColumnWidth(0, 360);
  table_widget_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  status_line_->setObjectName(QStringLiteral("status_line"));
  status_line_->setWordWrap(true);
  splitter_->addWidget(table_widget_);
  splitter_->addWidget(trend_chart_);
  splitter_->setChildrenCollapsible(false);
  splitter_->setStretchFactor(1, 2);  // a trend wants the room more than the table
  trend_chart_->hide();
  connect(trend_chart_, &TrendChart::said, this, &UATableWindow::on_session_line);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter_);
  layout->addWidget(status_line_);
  setLayout(layout);
}

UATableWindow::~UATableWindow() {
  if (worker_) worker_->stop_and_wait();
}

tsdbpy::conn::Settings UATableWindow::default_tsdb_settings() {
  return tessaly::default_tsdb_settings();
}

void UATableWindow::start_opcua(const ViewerSettings& settings) {
  endpoint = settings.endpoint;
  identifier = settings.identifier;
  name_space_index = settings.name_space_index;

  tessaly::OPCHubletWorker::Settings worker_settings;
  worker_settings.endpoint = settings.endpoint;
  worker_settings.parent_node_name = settings.identifier;
  worker_settings.sub_interval = settings.sub_interval;
  worker_settings.tsdb_cfg = tsdb_settings_;
  trend_chart_->set_database(tsdb_settings_);
  worker_ = std::make_unique<tessaly::OPCHubletWorker>(worker_settings);
  connect(worker_.get(), &tessaly::OPCHubletWorker::node_discovered, this,
          &UATableWindow::on_node_discovered);
  connect(worker_.get(), &tessaly::OPCHubletWorker::data_changed, this, &UATableWindow::on_data_changed);
  connect(worker_.get(), &tessaly::OPCHubletWorker::data_stale, this, &UATableWindow::on_data_stale);
  connect(worker_.get(), &tessaly::OPCHubletWorker::write_finished, this, &UATableWindow::on_write_finished);
  connect(worker_.get(), &tessaly::OPCHubletWorker::said, this, &UATableWindow::on_session_line);
  connect(worker_.get(), &tessaly::OPCHubletWorker::numbers_polled, this, &UATableWindow::on_numbers_polled);
  worker_->start();

  table_widget_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(table_widget_, &QTableWidget::customContextMenuRequested, this,
          &UATableWindow::on_table_context_menu);
  connect(table_widget_, &QTableWidget::cellDoubleClicked, this, &UATableWindow::on_cell_double_clicked);
}

void UATableWindow::on_node_discovered(const QString& node_id_str, const QString& /*tag_name*/) {
  const int row = table_widget_->rowCount();
  table_widget_->insertRow(row);
  const QString node_name = node_name_of(node_id_str);
  table_widget_->setItem(row, 0, new QTableWidgetItem(node_name));
  table_widget_->setItem(row, 1, new QTableWidgetItem(QStringLiteral("-")));
  nodeid_to_row[node_name] = row;
}

void UATableWindow::on_data_changed(const QString& node_id_str, const QString& value_str) {
  const auto it = nodeid_to_row.find(node_name_of(node_id_str));
  if (it == nodeid_to_row.end()) return;
  table_widget_->setItem(it->second, 1, make_value_item(value_str));
}

QTableWidgetItem* UATableWindow::make_value_item(const QString& full_text) const {
  const QString shown = QString::fromStdString(tessaly::readable_value_text(full_text.toStdString()));
  auto* item = new QTableWidgetItem(shown);
  item->setData(kFullTextRole, full_text);
  if (shown != full_text) item->setToolTip(full_text);
  return item;
}

void UATableWindow::on_data_stale(const QString& node_id_str, const QString& value_str,
                                  const QString& status) {
  const auto it = nodeid_to_row.find(node_name_of(node_id_str));
  if (it == nodeid_to_row.end()) return;
  const QTableWidgetItem* last = table_widget_->item(it->second, 1);
  QTableWidgetItem* item = make_value_item(!value_str.isEmpty() ? value_str
                                           : last               ? last->data(kFullTextRole).toString()
                                                                : QString());
  if (item->text().isEmpty()) item->setText(QStringLiteral("-"));
  item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
  QFont font = item->font();
  font.setItalic(true);
  item->setFont(font);
  const QString full = item->data(kFullTextRole).toString();
  item->setToolTip((full != item->text() ? full + QLatin1Char('\n') : QString()) +
                   QStringLiteral("Not live: ") + status);
  table_widget_->setItem(it->second, 1, item);
}

void UATableWindow::on_write_finished(const QString& node_id_str, bool ok, const QString& reason) {
  const QString node = node_name_of(node_id_str);
  QPalette colours = status_line_->palette();
  colours.setColor(QPalette::WindowText, ok ? palette().color(QPalette::WindowText) : QColor(176, 0, 32));
  status_line_->setPalette(colours);
  status_line_->setText(ok ? node + QStringLiteral(" written.")
                           : node + QStringLiteral(" not written: ") + reason);
}

void UATableWindow::on_session_line(const QString& line) {
  status_line_->setPalette(palette());
  status_line_->setText(line);
}

void UATableWindow::on_cell_double_clicked(int row, int col) {
  if (col != 1) return;
  const QString node_id = node_id_of_row(row);
  if (node_id.isEmpty()) return;
  std::cout << node_id.toStdString() << std::endl;
  const QTableWidgetItem* value = table_widget_->item(row, 1);
  const QVariant full = value ? value->data(kFullTextRole) : QVariant();
  const QString current = full.isValid() ? full.toString() : value ? value->text() : QString();
  const std::optional<QString> entered = ask_text_(
      this, QStringLiteral("Modify Value"),
      QStringLiteral("Please enter a new value (Current: ") + current + QStringLiteral("):"), current);
  if (!entered) return;  // cancelled
  if (entered->trimmed().isEmpty()) {
    on_write_finished(node_id, false, QStringLiteral("no value was entered"));
  } else if (!worker_) {
    on_write_finished(node_id, false, QStringLiteral("the viewer is not connected to a server"));
  } else {
    emit worker_->write_request(node_id, *entered);
  }
}

void UATableWindow::on_table_context_menu(const QPoint& pos) {
  const std::unique_ptr<QMenu> menu = context_menu(pos);
  menu->exec(table_widget_->viewport()->mapToGlobal(pos));
}

std::unique_ptr<QMenu> UATableWindow::context_menu(const QPoint& pos) {
  auto menu = std::make_unique<QMenu>(table_widget_);
  QAction* copy = menu->addAction(QStringLiteral("Copy"));
  connect(copy, &QAction::triggered, this, [this, pos] { copy_cell_content(pos); });
  const QTableWidgetItem* item = table_widget_->itemAt(pos);
  const QString node_id = item != nullptr ? node_id_of_row(item->row()) : QString();
  if (!node_id.isEmpty()) {
    QAction* trend = menu->addAction(QStringLiteral("Trend"));
    trend->setCheckable(true);
    trend->setChecked(trend_chart_->has_tag(node_id));
    connect(trend, &QAction::toggled, this, [this, node_id](bool on) { set_trended(node_id, on); });
  }
  return menu;
}

void UATableWindow::copy_cell_content(const QPoint& pos) {
  const QTableWidgetItem* item = table_widget_->itemAt(pos);
  if (item == nullptr) return;
  const QVariant full = item->data(kFullTextRole);
  QApplication::clipboard()->setText(full.isValid() ? full.toString() : item->text());
}

QString UATableWindow::node_id_of_row(int row) const {
  const QTableWidgetItem* name_item = table_widget_->item(row, 0);
  if (name_item == nullptr) return {};
  return QString::number(name_space_index) + QLatin1Char(':') + name_item->text();
}

void UATableWindow::set_trended(const QString& node_id, bool on) {
  if (on) {
    trend_chart_->add_tag(node_id);
  } else {
    trend_chart_->remove_tag(node_id);
  }
  trend_chart_->setVisible(!trend_chart_->data().empty());
}

void UATableWindow::on_numbers_polled(const tessaly::PolledNumbers& numbers) {
  trend_chart_->add_poll(numbers);
}

void UATableWindow::closeEvent(QCloseEvent* event) {
  if (worker_ && worker_->isRunning()) worker_->stop_and_wait();
  QWidget::closeEvent(event);
}

}  // namespace varnok::quorra
