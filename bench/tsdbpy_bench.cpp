// How many values per second write_tsdata stores, for the viewer's batch of
// one poll (30 tags) and a large one (1000), next to what the server itself
// manages with the same rows: BM_ServerInsertSelect inserts them from
// generate_series inside the server, so the ratio of the two is how close
// the client comes to the database's own limit. Against a throw-away cluster
// on a free loopback port, durable settings (fsync, synchronous commit), so
// each call pays one commit.
//
//   tsdbpy_bench --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true

#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "pg_cluster.h"
#include "tsdbpy/tsdbpy.h"

namespace {

struct Fixture {
  tsdbpy_testing::PgCluster cluster{tsdbpy_testing::PgClusterOptions{.durable = true}};
  tsdbpy::conn::Connection conn = tsdbpy::conn::get_conn(cluster.settings());
  // The same without waiting for the commit to reach the disk: what the
  // statement itself costs.
  tsdbpy::conn::Connection no_wait = [this] {
    auto settings = cluster.settings();
    settings.emplace_back("options", "-c synchronous_commit=off");
    return tsdbpy::conn::get_conn(settings);
  }();
  // For the server-side insert: durable like `conn`, driven through libpq.
  tsdbpy::conn::Connection server_side = tsdbpy::conn::get_conn(cluster.settings());
  // Consecutive, so that the server can make them from generate_series.
  std::vector<int> tag_ids;

  Fixture() {
    for (int i = 0; i < 1000; ++i) {
      tsdbpy::tag::TagInfo tag{.tag_name = "2:Bench.T" + std::to_string(i)};
      if (!tsdbpy::tag::insert_new_tag(conn, tag).ok) throw std::runtime_error("cannot create the tags");
      tag_ids.push_back(*tag.tag_id);
      if (*tag.tag_id != tag_ids.front() + i) throw std::runtime_error("tag ids are not consecutive");
    }
    // Today's partition, as a recorder makes it when it connects.
    tsdbpy::tsdata::upkeep_partitions(conn, std::chrono::system_clock::now(), std::nullopt);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// Runs one statement on tsdbpy's non-blocking connection `pg`, waiting no
// longer than tsdbpy would (statement_timeout 10 s, then 2 s). Returns the
// error, or "" when it stored `rows` rows.
std::string exec_bounded(PGconn* pg, const char* sql, const std::vector<const char*>& params,
                         const std::string& rows) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
  const auto wait = [&](short events) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd{PQsocket(pg), events, 0};
    return left.count() > 0 && poll(&fd, 1, static_cast<int>(left.count())) > 0;
  };
  if (PQsendQueryParams(pg, sql, static_cast<int>(params.size()), nullptr, params.data(), nullptr, nullptr,
                        0) == 0) {
    return PQerrorMessage(pg);
  }
  for (int flushed; (flushed = PQflush(pg)) != 0;) {
    if (flushed < 0 || !wait(POLLOUT)) return "cannot send the statement";
  }
  std::string error;
  for (;;) {
    while (PQisBusy(pg) != 0) {
      if (!wait(POLLIN)) return "no answer from the server in time";
      if (PQconsumeInput(pg) == 0) return PQerrorMessage(pg);
    }
    PGresult* res = PQgetResult(pg);
    if (res == nullptr) return error;
    if (PQresultStatus(res) != PGRES_COMMAND_OK) {
      error = PQresultErrorMessage(res);
    } else if (PQcmdTuples(res) != rows) {
      error = std::string("stored ") + PQcmdTuples(res) + " rows instead of " + rows;
    }
    PQclear(res);
  }
}

void count_values(benchmark::State& state) {
  const auto values = static_cast<double>(state.iterations() * state.range(0));
  state.counters["values/s"] = benchmark::Counter(values, benchmark::Counter::kIsRate);
}

void write_batches(benchmark::State& state, tsdbpy::conn::Connection& conn) {
  Fixture& f = fixture();
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<int> ids(f.tag_ids.begin(), f.tag_ids.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<double> values(n);
  double v = 0;
  for (auto _ : state) {
    for (auto& x : values) x = (v += 0.5);
    const auto result = tsdbpy::tsdata::write_tsdata(conn, ids, values);
    if (!result.ok) {
      state.SkipWithError(result.error.c_str());
      break;
    }
  }
  count_values(state);
}
void BM_WriteTsdata(benchmark::State& state) {
  write_batches(state, fixture().conn);
}
BENCHMARK(BM_WriteTsdata)->Arg(30)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_WriteTsdataNoCommitWait(benchmark::State& state) {
  write_batches(state, fixture().no_wait);
}
BENCHMARK(BM_WriteTsdataNoCommitWait)->Arg(30)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The recorder's call: every value with its own time stamp, one poll per
// iteration, each later than any before, so that nothing is skipped.
void BM_WriteTsdataTimed(benchmark::State& state) {
  Fixture& f = fixture();
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<int> ids(f.tag_ids.begin(), f.tag_ids.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<tsdbpy::tsdata::TimePoint> ts(n);
  std::vector<double> values(n);
  static auto poll = std::chrono::system_clock::now();
  double v = 0;
  for (auto _ : state) {
    poll += std::chrono::milliseconds(1);
    for (auto& t : ts) t = poll;
    for (auto& x : values) x = (v += 0.5);
    const auto result = tsdbpy::tsdata::write_tsdata(f.conn, ts, ids, values);
    if (!result.ok) {
      state.SkipWithError(result.error.c_str());
      break;
    }
  }
  count_values(state);
}
BENCHMARK(BM_WriteTsdataTimed)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The server's own limit: the same rows (the first n tags, one server time
// stamp, a double each) made by the server in one durable transaction, into
// today's partition and its index. Nothing crosses the network but the
// statement.
void BM_ServerInsertSelect(benchmark::State& state) {
  Fixture& f = fixture();
  static constexpr const char* kSql =
      "INSERT INTO tsdata (tag_id, ts, value)"
      " SELECT $1::int4 + g, now(), $3::float8 + g * 0.5 FROM generate_series(0, $2::int4 - 1) AS g";
  const std::string first = std::to_string(f.tag_ids.front());
  const std::string n = std::to_string(state.range(0));
  double v = 0;
  for (auto _ : state) {
    const std::string offset = std::to_string(v += 1000);
    const std::string error =
        exec_bounded(f.server_side.native_handle(), kSql, {first.c_str(), n.c_str(), offset.c_str()}, n);
    if (!error.empty()) {
      state.SkipWithError(("server-side insert failed: " + error).c_str());
      break;
    }
  }
  count_values(state);
}
BENCHMARK(BM_ServerInsertSelect)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
