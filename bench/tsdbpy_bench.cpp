// How many values per second write_tsdata stores, for the viewer's batch of
// one poll (30 tags) and a large one (1000). Against a throw-away cluster on
// a free loopback port, durable settings (fsync, synchronous commit), so each
// call pays one commit.

#include <benchmark/benchmark.h>

#include <cstdint>
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
  std::vector<int> tag_ids;

  Fixture() {
    for (int i = 0; i < 1000; ++i) {
      tsdbpy::tag::TagInfo tag{.tag_name = "2:Bench.T" + std::to_string(i)};
      if (!tsdbpy::tag::insert_new_tag(conn, tag).ok) throw std::runtime_error("cannot create the tags");
      tag_ids.push_back(*tag.tag_id);
    }
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
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
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
void BM_WriteTsdata(benchmark::State& state) {
  write_batches(state, fixture().conn);
}
BENCHMARK(BM_WriteTsdata)->Arg(30)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_WriteTsdataNoCommitWait(benchmark::State& state) {
  write_batches(state, fixture().no_wait);
}
BENCHMARK(BM_WriteTsdataNoCommitWait)->Arg(30)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
