// The results plot's decisions without pixels: panels, ranges, ticks, runs,
// the stacking of the marks' numbers, and what is refused.

#include "varnok/plot/plot_layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numeric>

#include "varnok/errors.h"

namespace varnok::plot {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Results two_tags() {
  Results results;
  results.periods = {0, 1, 2};
  results.tags = {"A", "B"};
  results.columns = {{1, 2, 3}, {4, 5, 6}};
  results.marks = {{1, 1, "A = 2"}};
  return results;
}

TEST(PanelsOf, EveryTagOnceInOrderAtMostSixPanelsEvenlyFilled) {
  for (std::size_t tags = 0; tags <= 40; ++tags) {
    SCOPED_TRACE(tags);
    const auto panels = panels_of(tags);
    std::vector<std::size_t> order;
    std::size_t smallest = tags;
    std::size_t largest = 0;
    for (const auto& panel : panels) {
      order.insert(order.end(), panel.begin(), panel.end());
      smallest = std::min(smallest, panel.size());
      largest = std::max(largest, panel.size());
    }
    std::vector<std::size_t> expected(tags);
    std::iota(expected.begin(), expected.end(), std::size_t{0});
    EXPECT_EQ(order, expected);
    EXPECT_LE(panels.size(), kMaxPanels);
    EXPECT_EQ(largest, (tags + kMaxPanels - 1) / kMaxPanels);  // no more per panel than needed
    if (tags > 0) {
      EXPECT_LE(largest - smallest, 1u);
    }
  }
  EXPECT_THAT(panels_of(7),
              ElementsAre(ElementsAre(0, 1), ElementsAre(2, 3), ElementsAre(4, 5), ElementsAre(6)));
}

TEST(CheckDrawable, RefusesWhatCannotBeDrawnSayingWhat) {
  EXPECT_NO_THROW(check_drawable(two_tags(), {}));
  const struct {
    const char* name;
    std::function<void(Results&, PlotSize&)> spoil;
    const char* says;
  } cases[] = {
      {"no tags", [](Results& r, PlotSize&) { r.tags.clear(), r.columns.clear(); }, "no tags"},
      {"a column missing", [](Results& r, PlotSize&) { r.columns.pop_back(); }, "2 tags but 1 columns"},
      {"a short column", [](Results& r, PlotSize&) { r.columns[1].pop_back(); },
       "tag \"B\" has 2 values for 3 periods"},
      {"a period repeated", [](Results& r, PlotSize&) { r.periods[2] = 1; },
       "period 1 (row 3) does not follow 1"},
      {"a mark backwards",
       [](Results& r, PlotSize&) {
         r.marks[0] = {5, 4, "ramp"};
       },
       "\"ramp\" ends (period 4) before it starts (period 5)"},
      {"too narrow", [](Results&, PlotSize& s) { s.width = 100; }, "width 100"},
      {"negative height", [](Results&, PlotSize& s) { s.height = -1; }, "height -1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Results results = two_tags();
    PlotSize size;
    c.spoil(results, size);
    try {
      check_drawable(results, size);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.says));
    }
  }
}

TEST(ValueRange, HoldsTheValuesWithLittleRoomAndAFlatLineInTheMiddle) {
  const struct {
    const char* name;
    std::vector<std::vector<double>> columns;
    std::vector<std::size_t> tags;
    double low;  // the values the range must hold
    double high;
  } cases[] = {
      {"spread", {{1, 3, 2}}, {0}, 1, 3},
      {"gaps ignored", {{kNaN, 5, kInf, 7}}, {0}, 5, 7},
      {"flat", {{42, 42}}, {0}, 42, 42},
      {"flat at zero", {{0, 0}}, {0}, 0, 0},
      {"flat negative", {{-8, -8}}, {0}, -8, -8},
      {"the panel's tags together", {{1, 2}, {10, kNaN}, {1000, 1000}}, {0, 1}, 1, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Results results;
    results.columns = c.columns;
    const Range range = value_range(results, c.tags);
    EXPECT_LT(range.low, c.low);
    EXPECT_GT(range.high, c.high);
    if (c.low == c.high) {
      EXPECT_DOUBLE_EQ((range.low + range.high) / 2, c.low);
    } else {
      EXPECT_LT(range.high - range.low, (c.high - c.low) * 1.2);
    }
  }
  Results empty;
  empty.columns = {{kNaN, kNaN}};
  const Range none = value_range(empty, {0});
  EXPECT_LT(none.low, none.high);
}

TEST(PeriodRange, HoldsTheRowsAndTheMarksAndIsNeverEmpty) {
  Results results = two_tags();
  results.marks = {{-5, -5, ""}, {1, 9, ""}};
  EXPECT_EQ(period_range(results).low, -5);
  EXPECT_EQ(period_range(results).high, 9);
  results.periods = {7};
  results.marks.clear();
  EXPECT_LT(period_range(results).low, 7);
  EXPECT_GT(period_range(results).high, 7);
  results.periods.clear();
  EXPECT_LT(period_range(results).low, period_range(results).high);
}

TEST(ValueRuns, BreakAtEveryMissingValue) {
  using Runs = std::vector<std::pair<std::size_t, std::size_t>>;
  EXPECT_EQ(value_runs({1, kNaN, 2, 3, kNaN, kNaN, 4}), (Runs{{0, 1}, {2, 4}, {6, 7}}));
  EXPECT_EQ(value_runs({kNaN, 1, 2, -kInf}), (Runs{{1, 3}}));
  EXPECT_EQ(value_runs({kNaN, kNaN}), Runs{});
  EXPECT_EQ(value_runs({}), Runs{});
}

TEST(Ticks, PeriodsOnRoundStepsValuesWithTheDecimalsTheyNeed) {
  const struct {
    double span;
    int most;
    std::int64_t step;
  } periods[] = {{100, 10, 10}, {7, 10, 1}, {0.5, 10, 1}, {1000, 8, 200}, {30, 4, 10}, {120, 12, 10}};
  for (const auto& c : periods)
    EXPECT_EQ(period_step(c.span, c.most), c.step) << c.span << " over " << c.most;
  const struct {
    double step;
    int decimals;
  } values[] = {{5, 0}, {2000, 0}, {0.2, 1}, {0.25, 2}, {0.05, 2}, {1e-7, 7}};
  for (const auto& c : values) EXPECT_EQ(decimals_for(c.step), c.decimals) << c.step;
}

TEST(LabelRows, StackOnlyWhatWouldOverlap) {
  const struct {
    const char* name;
    std::vector<double> centres;
    int most_rows;
    std::vector<int> rows;
  } cases[] = {
      {"apart", {10, 100, 200}, 4, {0, 0, 0}},   {"same place", {50, 50, 50}, 4, {0, 1, 2}},
      {"unsorted", {100, 0, 5}, 4, {0, 0, 1}},   {"back to the first row", {0, 5, 40}, 4, {0, 1, 0}},
      {"rows run out", {0, 1, 2}, 2, {0, 1, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(label_rows(c.centres, 20, c.most_rows), c.rows) << c.name;
}

}  // namespace
}  // namespace varnok::plot
