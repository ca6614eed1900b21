#pragma once

#include <QString>
#include <QThread>
#include <QVariant>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tsdbpy/conn.h"
#include "varnok/defaults.h"
#include "viewer_session.h"

namespace varnok::tessaly {

// The viewer's Qt face of a ViewerSession (viewer_session.h), which does
// all the work: run() runs the session on this thread, and what the session
// reports comes out as signals, emitted on the session's threads, reaching
// GUI objects queued, by value.
//
// write_request is emitted on the GUI thread and handled there, directly:
// handle_write_request only converts and queues the value and returns at
// once; write_finished tells how it went.
class OPCHubletWorker final : public QThread {
  Q_OBJECT

 public:
  struct Settings {
    QString endpoint =
        QString::fromStdString(defaults::opcua_endpoint(defaults::kHost, defaults::kOpcUaPort));
    int parent_namespace_index = 2;
    QString parent_node_name = QStringLiteral("Demo");
    int sub_interval = 1000;  // ms: subscription interval and polling period
    QObject* parent = nullptr;
    std::optional<tsdbpy::conn::Settings> tsdb_cfg;  // none or empty: no recording
  };

  OPCHubletWorker();
  explicit OPCHubletWorker(Settings settings);
  // stop_and_wait()
  ~OPCHubletWorker() override;

  // Asks the session to stop; returns at once.
  void stop();
  // Stops and waits for run() to return, interrupting whatever the network
  // or the database still holds after a short grace: returns within about
  // half a second even while the server or the database hangs.
  void stop_and_wait();

  // Nodes, polls, and the recorder's counts so far (thread-safe).
  SessionCounts counts() const { return session_.counts(); }

 signals:
  void node_discovered(const QString& node_id, const QString& display_name);
  // A live value.
  void data_changed(const QString& node_id, const QString& value);
  // A value that is not live: bad status from the server, or no answer. An
  // empty `value` means the server sent none (keep showing the last one);
  // `status` says why, for the user.
  void data_stale(const QString& node_id, const QString& value, const QString& status);
  void write_request(const QString& node_id, const QVariant& value);
  // The outcome of one write request: `reason` is empty when ok.
  void write_finished(const QString& node_id, bool ok, const QString& reason);
  // The numbers of one successful poll, after its data_changed signals, for
  // trends (queued: PolledNumbers is registered as a meta type).
  void numbers_polled(const varnok::tessaly::PolledNumbers& numbers);
  // A status line of the session (start-up failures, the database lost and
  // back), also written to standard output.
  void said(const QString& line);

 public slots:
  void handle_write_request(const QString& node_id_str, const QVariant& new_value);

 protected:
  void run() override;

 private:
  SessionEvents events();
  // The id a signal carries for values[i] of a poll: the one made at
  // discovery when it is that node's, else converted here.
  QString node_id_of(const std::vector<ShownValue>& values, std::size_t i) const;

  ViewerSession session_;
  // Every node discovered, with its id as the signals carry it, made once:
  // a poll of many nodes then converts none. Filled during start-up, on the
  // polling thread; read-only once the session polls and writes.
  std::vector<std::pair<std::string, QString>> node_ids_;
};

}  // namespace varnok::tessaly

Q_DECLARE_METATYPE(varnok::tessaly::PolledNumbers)
