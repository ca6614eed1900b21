#include <gtest/gtest.h>

#include <QSignalSpy>
#include <iostream>
#include <sstream>
#include <thread>

#include "corvex/simulink_opc_gate_task.h"
#include "opc_hublet_worker.h"
#include "opcsim_process.h"
#include "pg_cluster.h"
#include "qt_wait.h"
#include "tsdbpy/tag.h"
#include "tsdbpy/tsdata.h"

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;
using testing::qt_wait_until;

// Echo follows Input, so a write shows up in the next period's values.
class EchoSim final : public corvex::Simulink {
 public:
  EchoSim() : Simulink({{"Input", 1.5}, {"Echo", 0.0}, {"Count", 0}}) {}
  void task() override {
    get_data().set("Echo", get_data().at("Input").to_double());
    get_data().set("Count", get_task_count());
  }
};

// Serves EchoSim as group T1 on a fresh opcsim for the test's lifetime.
class LiveGroup {
 public:
  LiveGroup()
      : sim_(std::make_shared<EchoSim>()),
        task_("127.0.0.1", opcsim_.gateway_port(), sim_, "T1", {.speed = 10.0}),
        thread_([this] { task_.run(); }) {
    while (task_.get_done_count() == 0) std::this_thread::sleep_for(10ms);
  }
  ~LiveGroup() {
    task_.stop();
    thread_.join();
  }
  QString endpoint() const { return QString("opc.tcp://127.0.0.1:%1").arg(opcsim_.opcua_port()); }
  double echo() const { return sim_->get_data().at("Echo").to_double(); }

 private:
  testing::OpcsimProcess opcsim_;
  std::shared_ptr<EchoSim> sim_;
  corvex::SimulinkOPCGateTask task_;
  std::thread thread_;
};

// Captures what the code under test prints on standard output.
class StdoutCapture {
 public:
  StdoutCapture() : old_(std::cout.rdbuf(buffer_.rdbuf())) {}
  ~StdoutCapture() { std::cout.rdbuf(old_); }
  std::string text() const { return buffer_.str(); }

 private:
  std::ostringstream buffer_;
  std::streambuf* old_;
};

OPCHubletWorker::Settings settings_for(const QString& endpoint, int interval_ms) {
  OPCHubletWorker::Settings settings;
  settings.endpoint = endpoint;
  settings.parent_node_name = "T1";
  settings.sub_interval = interval_ms;
  return settings;
}

TEST(OPCHubletWorker, DiscoversPollsWritesAndRecords) {
  LiveGroup group;
  tsdbpy_testing::PgCluster db;
  auto settings = settings_for(group.endpoint(), 100);
  settings.tsdb_cfg = db.settings();
  OPCHubletWorker worker(settings);
  QSignalSpy discovered(&worker, &OPCHubletWorker::node_discovered);
  QSignalSpy changed(&worker, &OPCHubletWorker::data_changed);
  worker.start();

  ASSERT_TRUE(qt_wait_until([&] { return changed.count() >= 9; }));
  ASSERT_EQ(discovered.count(), 3);
  EXPECT_EQ(discovered[0][0].toString(), "2:T1.Input");
  EXPECT_EQ(discovered[1][1].toString(), "Echo");
  // Each poll names its nodes as discovered, in that order.
  for (int i = 0; i < 9; ++i) EXPECT_EQ(changed[i][0].toString(), discovered[i % 3][0].toString()) << i;
  EXPECT_EQ(changed[0][1].toString(), "1.5");

  {
    StdoutCapture out;
    emit worker.write_request("2:T1.Input", QString(" 12.5 "));
    emit worker.write_request("2:T1.Input", QString("abc"));
    emit worker.write_request("9:Nope", QString("1"));
    EXPECT_NE(out.text().find("写入失败，无法转换为浮点数: abc"), std::string::npos);
    EXPECT_NE(out.text().find("未知节点: 9:Nope"), std::string::npos);
  }
  EXPECT_TRUE(qt_wait_until([&] { return group.echo() == 12.5; }));
  // Stop only once a poll has seen (and recorded) the written value.
  const auto echoed = [&] {
    for (const auto& args : changed) {
      if (args[0].toString() == "2:T1.Echo" && args[1].toString() == "12.5") return true;
    }
    return false;
  };
  EXPECT_TRUE(qt_wait_until(echoed));

  worker.stop();
  ASSERT_TRUE(worker.wait(3000));

  auto conn = tsdbpy::conn::get_conn(db.settings());
  const auto tag = tsdbpy::tag::get_tag(conn, "2:T1.Echo");
  ASSERT_TRUE(tag.has_value());
  const auto samples =
      tsdbpy::tsdata::read_tsdata(conn, *tag->tag_id, {}, std::chrono::system_clock::now() + 1h);
  EXPECT_GE(samples.size(), 3u);
  EXPECT_EQ(samples.back().value, 12.5);
}

TEST(OPCHubletWorker, StopWakesTheSleepOfALongPeriod) {
  LiveGroup group;
  OPCHubletWorker worker(settings_for(group.endpoint(), 60000));
  QSignalSpy changed(&worker, &OPCHubletWorker::data_changed);
  worker.start();
  ASSERT_TRUE(qt_wait_until([&] { return changed.count() >= 3; }));
  worker.stop();
  EXPECT_TRUE(worker.wait(3000));
}

TEST(OPCHubletWorker, UnreachableEndpointEndsTheRunWithItsLine) {
  StdoutCapture out;
  OPCHubletWorker worker(settings_for(QString("opc.tcp://127.0.0.1:%1").arg(testing::free_port()), 100));
  QSignalSpy discovered(&worker, &OPCHubletWorker::node_discovered);
  worker.start();
  ASSERT_TRUE(worker.wait(10000));
  EXPECT_EQ(discovered.count(), 0);
  EXPECT_NE(out.text().find("创建 source 失败"), std::string::npos);
}

TEST(OPCHubletWorker, AMissingParentEndsTheRunWithItsLine) {
  LiveGroup group;
  auto settings = settings_for(group.endpoint(), 50);
  settings.parent_node_name = "NoSuchGroup";
  StdoutCapture out;
  OPCHubletWorker worker(settings);
  QSignalSpy changed(&worker, &OPCHubletWorker::data_changed);
  worker.start();
  ASSERT_TRUE(worker.wait(10000));
  EXPECT_EQ(changed.count(), 0);
  EXPECT_NE(out.text().find("浏览 source 失败"), std::string::npos);
}

}  // namespace
}  // namespace varnok::tessaly
