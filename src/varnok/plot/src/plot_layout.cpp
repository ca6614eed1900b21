#include "varnok/plot/plot_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "varnok/errors.h"

namespace varnok::plot {

namespace {

// Larger pictures are refused rather than allocated (10000 x 10000 ARGB is
// 400 MB already).
constexpr int kMinWidth = 400;
constexpr int kMaxSide = 10000;

[[noreturn]] void refuse(const std::string& why) {
  throw UsageError("cannot draw the results: " + why);
}

}  // namespace

std::vector<std::vector<std::size_t>> panels_of(std::size_t tag_count) {
  if (tag_count == 0) return {};
  const std::size_t per_panel = (tag_count + kMaxPanels - 1) / kMaxPanels;
  const std::size_t panel_count = (tag_count + per_panel - 1) / per_panel;
  std::vector<std::vector<std::size_t>> panels(panel_count);
  std::size_t tag = 0;
  for (std::size_t p = 0; p < panel_count; ++p) {
    // The first (tag_count % panel_count) panels take one tag more.
    const std::size_t size = tag_count / panel_count + (p < tag_count % panel_count ? 1 : 0);
    for (std::size_t i = 0; i < size; ++i) panels[p].push_back(tag++);
  }
  return panels;
}

void check_drawable(const Results& results, PlotSize size) {
  if (size.width < kMinWidth || size.width > kMaxSide)
    refuse("width " + std::to_string(size.width) + " is not within " + std::to_string(kMinWidth) + ".." +
           std::to_string(kMaxSide) + " pixels");
  if (size.height < 0 || size.height > kMaxSide)
    refuse("height " + std::to_string(size.height) + " is not within 0 (automatic).." +
           std::to_string(kMaxSide) + " pixels");
  if (results.tags.empty()) refuse("no tags");
  if (results.columns.size() != results.tags.size())
    refuse(std::to_string(results.tags.size()) + " tags but " + std::to_string(results.columns.size()) +
           " columns");
  for (std::size_t i = 0; i < results.tags.size(); ++i) {
    if (results.columns[i].size() != results.periods.size())
      refuse("tag \"" + results.tags[i] + "\" has " + std::to_string(results.columns[i].size()) +
             " values for " + std::to_string(results.periods.size()) + " periods");
  }
  for (std::size_t row = 1; row < results.periods.size(); ++row) {
    if (results.periods[row] <= results.periods[row - 1])
      refuse("period " + std::to_string(results.periods[row]) + " (row " + std::to_string(row + 1) +
             ") does not follow " + std::to_string(results.periods[row - 1]));
  }
  for (const Mark& mark : results.marks) {
    if (mark.to < mark.from)
      refuse("the action \"" + mark.label + "\" ends (period " + std::to_string(mark.to) +
             ") before it starts (period " + std::to_string(mark.from) + ")");
  }
}

Range period_range(const Results& results) {
  auto low = std::numeric_limits<std::int64_t>::max();
  auto high = std::numeric_limits<std::int64_t>::min();
  if (!results.periods.empty()) {
    low = results.periods.front();
    high = results.periods.back();
  }
  for (const Mark& mark : results.marks) {
    low = std::min(low, mark.from);
    high = std::max(high, mark.to);
  }
  if (low > high) return {0, 1};
  if (low == high) return {static_cast<double>(low) - 1, static_cast<double>(high) + 1};
  return {static_cast<double>(low), static_cast<double>(high)};
}

Range value_range(const Results& results, const std::vector<std::size_t>& tags) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const std::size_t tag : tags) {
    for (const double value : results.columns[tag]) {
      if (!std::isfinite(value)) continue;
      low = std::min(low, value);
      high = std::max(high, value);
    }
  }
  if (low > high) return {0, 1};
  if (low == high) {
    const double half = low == 0 ? 1 : std::abs(low) * 0.1;
    return {low - half, high + half};
  }
  const double margin = (high - low) * 0.05;
  return {low - margin, high + margin};
}

std::vector<std::pair<std::size_t, std::size_t>> value_runs(const std::vector<double>& column) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  std::size_t row = 0;
  while (row < column.size()) {
    while (row < column.size() && !std::isfinite(column[row])) ++row;
    const std::size_t first = row;
    while (row < column.size() && std::isfinite(column[row])) ++row;
    if (row > first) runs.emplace_back(first, row);
  }
  return runs;
}

std::int64_t period_step(double span, int most_ticks) {
  const double wanted = span / std::max(most_ticks, 1);
  std::int64_t decade = 1;
  // Stops well before int64 overflows; no run has that many periods.
  while (decade < 1'000'000'000'000'000'000) {
    for (const std::int64_t factor : {1, 2, 5}) {
      if (static_cast<double>(decade * factor) >= wanted) return decade * factor;
    }
    decade *= 10;
  }
  return decade;
}

int decimals_for(double step) {
  if (!(step > 0) || !std::isfinite(step)) return 0;
  int decimals = 0;
  double scaled = step;
  while (decimals < 12 && std::abs(scaled - std::round(scaled)) > 1e-6 * scaled) {
    scaled *= 10;
    ++decimals;
  }
  return decimals;
}

std::vector<int> label_rows(const std::vector<double>& centres, double width, int most_rows) {
  std::vector<std::size_t> order(centres.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return centres[a] < centres[b]; });
  const double gap = width * 0.2;
  std::vector<double> row_end(static_cast<std::size_t>(std::max(most_rows, 1)),
                              -std::numeric_limits<double>::infinity());
  std::vector<int> rows(centres.size(), 0);
  for (const std::size_t i : order) {
    const double left = centres[i] - width / 2;
    auto row = std::find_if(row_end.begin(), row_end.end(), [&](double end) { return end + gap <= left; });
    if (row == row_end.end()) row = std::min_element(row_end.begin(), row_end.end());
    *row = centres[i] + width / 2;
    rows[i] = static_cast<int>(row - row_end.begin());
  }
  return rows;
}

std::string mark_text(const Mark& mark) {
  std::string text = mark.from == mark.to ? "at " + std::to_string(mark.from)
                                          : std::to_string(mark.from) + " to " + std::to_string(mark.to);
  if (!mark.label.empty()) text += ": " + mark.label;
  return text;
}

}  // namespace varnok::plot
