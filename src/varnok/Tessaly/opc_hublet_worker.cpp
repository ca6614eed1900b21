#include "opc_hublet_worker.h"

#include <iostream>

#include "varnok/number_text.h"

namespace varnok::tessaly {

namespace {

SessionSettings session_settings(const OPCHubletWorker::Settings& settings) {
  return {.endpoint = settings.endpoint.toStdString(),
          .parent_namespace_index = settings.parent_namespace_index,
          .parent_node_name = settings.parent_node_name.toStdString(),
          .period = std::chrono::milliseconds(std::max(0, settings.sub_interval)),
          .database = settings.tsdb_cfg.value_or(tsdbpy::conn::Settings{})};
}

// The value typed or sent, as a double: numbers as they are, text read as a
// number typed by a user.
std::optional<double> number_of(const QVariant& value) {
  switch (static_cast<QMetaType::Type>(value.type())) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool: {
      bool numeric = false;
      const double number = value.toDouble(&numeric);
      return numeric ? std::optional(number) : std::nullopt;
    }
    default:
      return parse_number(value.toString().toStdString());
  }
}

}  // namespace

OPCHubletWorker::OPCHubletWorker() : OPCHubletWorker(Settings{}) {}

OPCHubletWorker::OPCHubletWorker(Settings settings)
    : QThread(settings.parent), session_(session_settings(settings), events()) {
  qRegisterMetaType<PolledNumbers>();
  // The worker object lives in the GUI thread, so the handler runs inside
  // the window's emit, on the GUI thread; it only queues.
  connect(this, &OPCHubletWorker::write_request, this, &OPCHubletWorker::handle_write_request,
          Qt::DirectConnection);
}

OPCHubletWorker::~OPCHubletWorker() {
  stop_and_wait();
}

SessionEvents OPCHubletWorker::events() {
  SessionEvents events;
  events.node_discovered = [this](const DiscoveredNode& node) {
    node_ids_.emplace_back(node.node_id, QString::fromStdString(node.node_id));
    emit node_discovered(node_ids_.back().second, QString::fromStdString(node.display_name));
  };
  events.values = [this](const std::vector<ShownValue>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      const ShownValue& v = values[i];
      if (v.live) {
        emit data_changed(node_id_of(values, i), QString::fromStdString(v.text));
      } else {
        emit data_stale(node_id_of(values, i), QString::fromStdString(v.text),
                        QString::fromStdString(v.status));
      }
    }
  };
  events.numbers = [this](const PolledNumbers& numbers) { emit numbers_polled(numbers); };
  events.say = [this](const std::string& line) {
    ViewerSession::print_line(line);
    emit said(QString::fromStdString(line));
  };
  events.write_finished = [this](const WriteOutcome& outcome) {
    emit write_finished(QString::fromStdString(outcome.node_id), outcome.ok,
                        QString::fromStdString(outcome.reason));
  };
  return events;
}

QString OPCHubletWorker::node_id_of(const std::vector<ShownValue>& values, std::size_t i) const {
  // A poll gives its nodes in the order of discovery; a value read back
  // after a write comes alone, and is converted.
  if (i < node_ids_.size() && node_ids_[i].first == values[i].node_id) return node_ids_[i].second;
  return QString::fromStdString(values[i].node_id);
}

void OPCHubletWorker::run() {
  session_.run();
}

void OPCHubletWorker::stop() {
  session_.stop();
}

void OPCHubletWorker::stop_and_wait() {
  session_.stop();
  if (wait(static_cast<unsigned long>(ViewerSession::kStopGrace.count()))) return;
  session_.interrupt();
  wait();
}

void OPCHubletWorker::handle_write_request(const QString& node_id_str, const QVariant& new_value) {
  const std::optional<double> value = number_of(new_value);
  if (!value) {
    std::cout << "写入失败，无法转换为浮点数: " << new_value.toString().toStdString() << std::endl;
    emit write_finished(node_id_str, false, QStringLiteral("not a number: ") + new_value.toString());
    return;
  }
  switch (session_.request_write(node_id_str.toStdString(), *value)) {
    case TagWriter::Request::kQueued:
      return;
    case TagWriter::Request::kUnknownNode:
      emit write_finished(node_id_str, false, QStringLiteral("unknown node"));
      return;
    case TagWriter::Request::kTooManyWaiting:
      emit write_finished(node_id_str, false, QStringLiteral("too many writes waiting for the server"));
      return;
  }
}

}  // namespace varnok::tessaly
