#pragma once

#include <QMap>
#include <QString>
#include <QThread>
#include <QVariant>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "corvex/ordered_map.h"
#include "hublet/hublet.h"
#include "tsdb_recording.h"
#include "tsdbpy/conn.h"
#include "varnok/defaults.h"

namespace varnok::tessaly {

// The viewer's background thread: opens a source on one OPC UA endpoint,
// browses one parent node, subscribes its readable variables as one group,
// then polls them every sub_interval ms until stop(), reporting every node
// and value through signals and recording every value when database
// settings were given.
//
// Signals are emitted on the worker thread and reach GUI objects queued.
// write_request is emitted on the GUI thread and handled there, directly:
// the library accepts that write while this thread reads.
class OPCHubletWorker final : public QThread {
  Q_OBJECT

 public:
  struct Settings {
    QString endpoint = QString::fromStdString(defaults::opcua_endpoint());
    int parent_namespace_index = 2;
    QString parent_node_name = QStringLiteral("Demo");
    int sub_interval = 1000;  // ms: subscription interval and polling period
    QObject* parent = nullptr;
    std::optional<tsdbpy::conn::Settings> tsdb_cfg;  // none or empty: no recording
  };

  OPCHubletWorker();
  explicit OPCHubletWorker(Settings settings);
  ~OPCHubletWorker() override;

  // Clears the running flag and wakes the polling sleep; returns at once.
  void stop();

 signals:
  void node_discovered(const QString& node_id, const QString& display_name);
  void data_changed(const QString& node_id, const QString& value);
  void write_request(const QString& node_id, const QVariant& value);

 public slots:
  void handle_write_request(const QString& node_id_str, const QVariant& new_value);

 protected:
  void run() override;

 private:
  bool start_up();
  void poll_once();
  void sleep_rest_of_period(std::chrono::steady_clock::time_point start);
  void cleanup();

  const QString endpoint;
  const int parent_namespace_index;
  const QString parent_node_name;
  const int sub_interval;

  std::atomic<bool> _running{true};
  std::unique_ptr<hublet::HubletLibrary> hublet;
  int source = hublet::HUBLET_INVALID_HANDLE;
  int group = hublet::HUBLET_INVALID_HANDLE;
  // node id -> descriptor / item handle, in discovery order; filled by
  // start-up, read-only afterwards (handle_write_request reads them).
  corvex::OrderedMap<hublet::TagDescriptor> tag_map;
  corvex::OrderedMap<int> handle_map;
  std::atomic<bool> handles_ready_{false};
  std::optional<tsdbpy::conn::Settings> tsdb_cfg;
  TsdbRecording recording_;

  std::mutex sleep_mutex_;
  std::condition_variable sleep_wake_;
};

}  // namespace varnok::tessaly
