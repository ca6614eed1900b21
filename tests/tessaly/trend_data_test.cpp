#include "trend_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace varnok::tessaly {
namespace {

using namespace std::chrono_literals;

// Second n of the test's clock.
TrendTime at(double n) {
  return TrendTime{} + 1'800'000'000s +
         std::chrono::duration_cast<TrendTime::duration>(std::chrono::duration<double>(n));
}

std::vector<double> values(const TrendSeries& series) {
  std::vector<double> out;
  for (const TrendSample& s : series.samples()) out.push_back(s.value);
  return out;
}

PolledNumbers poll(double n, std::vector<std::string> tags, std::vector<double> numbers) {
  return {.read_at = at(n), .node_ids = std::move(tags), .values = std::move(numbers)};
}

TEST(TrendSeries, HistoryFillsOnlyWhatIsOlderThanWhatIsHeldAndLiveValuesGoForward) {
  struct Case {
    const char* what;
    std::vector<TrendSample> live;
    std::vector<std::vector<TrendSample>> histories;  // merged in turn, after the live ones
    std::vector<double> held;
  };
  const Case cases[] = {
      {"recorded and live overlap: each time once, live values win",
       {{at(10), 10}, {at(11), 11}, {at(12), 12}},
       {{{at(8), 80}, {at(9), 90}, {at(10), 100}, {at(11), 110}}},
       {80, 90, 10, 11, 12}},
      {"history in any order, twice at one time",
       {{at(10), 10}},
       {{{at(9), 90}, {at(7), 70}, {at(9), 91}, {at(8), 80}}},
       {70, 80, 90, 10}},
      {"nothing live yet: all of it", {}, {{{at(1), 1}, {at(2), 2}}}, {1, 2}},
      {"a longer window filled back again adds only the part before",
       {{at(10), 10}},
       {{{at(8), 8}, {at(9), 9}}, {{at(5), 5}, {at(8), 80}, {at(9), 90}, {at(10), 100}}},
       {5, 8, 9, 10}},
      {"a live value not newer than the last is dropped",
       {{at(10), 10}, {at(10), 11}, {at(9), 9}, {at(12), 12}},
       {},
       {10, 12}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TrendSeries series;
    for (const TrendSample& s : c.live) series.add_live(s);
    for (const auto& history : c.histories) series.add_history(history);
    EXPECT_EQ(values(series), c.held);
  }
}

TEST(TrendSeries, KeepsAtMostItsBoundNewestFirst) {
  TrendSeries series;
  std::vector<TrendSample> history;
  for (std::size_t i = 0; i < TrendSeries::kMaxSamples + 10; ++i)
    history.push_back({at(static_cast<double>(i)), 1.0 * static_cast<double>(i)});
  series.add_live({at(1e6), -1});
  series.add_history(history);
  ASSERT_EQ(series.samples().size(), TrendSeries::kMaxSamples);
  EXPECT_EQ(series.samples().back().value, -1);
  EXPECT_EQ(series.samples()[series.samples().size() - 2].value,
            static_cast<double>(TrendSeries::kMaxSamples + 9));
  series.add_live({at(1e6 + 1), -2});
  EXPECT_EQ(series.samples().size(), TrendSeries::kMaxSamples);
  EXPECT_EQ(series.samples().back().value, -2);
}

TEST(TrendSet, PollsFeedTheTagsOnTheTrendWithinTheWindow) {
  TrendSet set(60s);
  ASSERT_TRUE(set.add("2:T1.PV"));
  ASSERT_TRUE(set.add("2:T1.MV"));
  EXPECT_FALSE(set.add("2:T1.PV"));
  for (int n = 0; n <= 200; ++n) {
    set.add_poll(poll(n, {"2:T1.PV", "2:T1.SP", "2:T1.MV"}, {1.0 * n, -1, 2.0 * n}));
  }
  const TrendSeries& pv = *set.series("2:T1.PV");
  ASSERT_EQ(pv.samples().size(), 61u);  // 140 .. 200 s
  EXPECT_EQ(pv.samples().front(), (TrendSample{at(140), 140}));
  EXPECT_EQ(set.series("2:T1.MV")->samples().back(), (TrendSample{at(200), 400}));
  EXPECT_EQ(set.series("2:T1.SP"), nullptr);
  EXPECT_EQ(set.latest(), at(200));

  set.set_window(10s);
  EXPECT_EQ(pv.samples().size(), 11u);
  // A tag taken off: its late history is dropped.
  ASSERT_TRUE(set.remove("2:T1.MV"));
  EXPECT_FALSE(set.remove("2:T1.MV"));
  const std::vector<TrendSample> late{{at(1), 1}};
  set.add_history("2:T1.MV", late);
  EXPECT_EQ(set.tags(), std::vector<std::string>{"2:T1.PV"});
  // History older than the window is not kept either.
  set.add_history("2:T1.PV", std::vector<TrendSample>{{at(100), 1}, {at(195), 2}});
  EXPECT_EQ(pv.samples().front(), (TrendSample{at(190), 190}));
}

TEST(TrendEnvelope, KeepsEachColumnsExtremesInTimeOrderAndSmallLinesWhole) {
  TrendSeries series;
  // A slow ramp with one spike up and one down, a value a second for 1000 s.
  for (int n = 0; n < 1000; ++n) series.add_live({at(n), n == 400 ? 1e6 : n == 401 ? -1e6 : 0.001 * n});
  const std::vector<TrendSample> drawn = trend_envelope(series, at(0), at(999), 100);
  EXPECT_LE(drawn.size(), 200u);
  EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(), [](auto& a, auto& b) { return a.at < b.at; }));
  EXPECT_NE(std::find(drawn.begin(), drawn.end(), TrendSample{at(400), 1e6}), drawn.end());
  EXPECT_NE(std::find(drawn.begin(), drawn.end(), TrendSample{at(401), -1e6}), drawn.end());
  EXPECT_EQ(drawn.front(), (TrendSample{at(0), 0}));
  EXPECT_EQ(drawn.back(), (TrendSample{at(999), 0.999}));

  const std::vector<TrendSample> whole = trend_envelope(series, at(10), at(19), 5);
  ASSERT_EQ(whole.size(), 10u);
  EXPECT_EQ(whole.front().at, at(10));
  EXPECT_TRUE(trend_envelope(series, at(2000), at(3000), 5).empty());
}

TEST(TrendCsv, OneRowPerTimeOfTheRangeWithEmptyCellsWhereATagHasNoValue) {
  TrendSet set(3600s);
  set.add("2:T1.PV");
  set.add("2:T1.MV");
  set.add_poll(poll(0, {"2:T1.PV", "2:T1.MV"}, {0.1, 29}));
  set.add_poll(poll(1.5, {"2:T1.PV"}, {1e16}));
  set.add_poll(poll(2.25, {"2:T1.MV", "2:T1.PV"}, {-2.5, std::numeric_limits<double>::quiet_NaN()}));
  set.add_poll(poll(3, {"2:T1.PV"}, {7}));
  EXPECT_EQ(trend_csv(set, at(0), at(2.25)),
            "time,2:T1.PV,2:T1.MV\n"
            "2027-01-15T08:00:00.000Z,0.1,29\n"
            "2027-01-15T08:00:01.500Z,1e+16,\n"
            "2027-01-15T08:00:02.250Z,nan,-2.5\n");
  EXPECT_EQ(trend_csv(set, at(4), at(5)), "time,2:T1.PV,2:T1.MV\n");
}

}  // namespace
}  // namespace varnok::tessaly
