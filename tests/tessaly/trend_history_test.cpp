// Filling trends back from a throw-away PostgreSQL, as the recorder stored it.

#include "trend_history.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "pg_cluster.h"
#include "tsdb_historian.h"
#include "tsdb_settings.h"
#include "varnok/defaults.h"

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;

// One request, waited for; none when no answer came within a minute.
std::optional<HistoryAnswer> ask(const tsdbpy::conn::Settings& settings, HistoryRequest request) {
  std::promise<HistoryAnswer> promise;
  HistoryReader reader(settings, [&](HistoryAnswer answer) { promise.set_value(std::move(answer)); });
  std::future<HistoryAnswer> answer = promise.get_future();
  reader.request(std::move(request));
  if (answer.wait_for(60s) != std::future_status::ready) return std::nullopt;
  return answer.get();
}

TEST(HistoryReader, AnswersEachTagWithItsRecordedValuesOfTheRange) {
  tsdbpy_testing::PgCluster cluster;
  TsdbHistorian store(recorder_tsdb_settings(cluster.settings()), "opc.tcp://localhost:1");
  store.open({"2:T1.PV", "2:T1.MV"});
  const TrendTime start = std::chrono::ceil<std::chrono::microseconds>(std::chrono::system_clock::now() - 1h);
  std::vector<Poll> polls;
  for (int n = 0; n < 20; ++n) polls.push_back(Poll{start + n * 1s, {0, 1}, {1.0 * n, -0.5 * n}});
  ASSERT_TRUE(store.write(polls).ok);

  const auto answer =
      ask(cluster.settings(), {.tags = {"2:T1.MV", "2:T1.Never"}, .from = start + 5s, .to = start + 8s});
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->error, "");
  ASSERT_EQ(answer->series.size(), 2u);
  EXPECT_EQ(answer->series[0].first, "2:T1.MV");
  EXPECT_EQ(answer->series[0].second,
            (std::vector<TrendSample>{{start + 5s, -2.5}, {start + 6s, -3}, {start + 7s, -3.5}}));
  EXPECT_EQ(answer->series[1], (std::pair<std::string, std::vector<TrendSample>>{"2:T1.Never", {}}));
}

TEST(HistoryReader, NoDatabaseMeansEmptyAnswersAnUnreachableOneAnError) {
  const auto none = ask({}, {.tags = {"2:T1.PV"}, .from = {}, .to = std::chrono::system_clock::now()});
  ASSERT_TRUE(none.has_value());
  EXPECT_EQ(none->error, "");
  EXPECT_EQ(none->series.size(), 1u);

  defaults::Addresses nowhere;
  nowhere.host = "127.0.0.1";
  nowhere.db_port = 1;  // nothing listens there
  const auto failed = ask(default_tsdb_settings(nowhere), {.tags = {"2:T1.PV"}, .from = {}, .to = {}});
  ASSERT_TRUE(failed.has_value());
  EXPECT_TRUE(failed->series.empty());
  EXPECT_NE(failed->error.find("history not read from the database"), std::string::npos) << failed->error;
}

TEST(HistoryReader, StopsAtOnceWhileTheDatabaseDoesNotAnswer) {
  // A listening socket that never accepts: connecting hangs until the time-out.
  tsdbpy_testing::PgCluster cluster;
  cluster.pause();
  bool delivered = false;
  {
    HistoryReader reader(cluster.settings(), [&](HistoryAnswer) { delivered = true; });
    reader.request({.tags = {"2:T1.PV"}, .from = {}, .to = {}});
    std::this_thread::sleep_for(200ms);
  }  // joins: would take the connect time-out without the interrupt
  EXPECT_FALSE(delivered);
  cluster.resume();
}

}  // namespace
}  // namespace varnok::tessaly
