#pragma once

// The decisions behind a results plot that need no Qt: which tags share a
// panel, the ranges and ticks of the axes, where a line breaks, how the
// numbers of the marks stack, and what results can be drawn at all.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "varnok/plot/results_plot.h"

namespace varnok::plot {

inline constexpr std::size_t kMaxPanels = 6;

// The tags (indices) of each panel, top to bottom; the rule is in
// results_plot.h.
std::vector<std::vector<std::size_t>> panels_of(std::size_t tag_count);

// Throws UsageError naming what is wrong: no tags, a column count or length
// that does not match, periods not increasing, a mark ending before it
// starts, a size out of range.
void check_drawable(const Results& results, PlotSize size);

struct Range {
  double low = 0;
  double high = 1;
};

// The periods shown: all rows and all marks, never an empty range.
Range period_range(const Results& results);

// The values of `tags` with a little room above and below; a flat line sits
// in the middle of a range around it; no values at all: 0..1.
Range value_range(const Results& results, const std::vector<std::size_t>& tags);

// The rows [first, last) of each unbroken run of values in a column.
std::vector<std::pair<std::size_t, std::size_t>> value_runs(const std::vector<double>& column);

// A round distance between period ticks (1, 2 or 5 times a power of ten,
// at least 1) giving at most `most_ticks` ticks over `span` periods.
std::int64_t period_step(double span, int most_ticks);

// Decimals that tell apart value ticks `step` apart.
int decimals_for(double step);

// The row (0 = nearest the plot) of each mark's number, a label `width`
// wide centred at `centres[i]`, so that numbers in a row do not overlap.
// When all `most_rows` are taken, the row that frees up first is shared.
std::vector<int> label_rows(const std::vector<double>& centres, double width, int most_rows);

// A mark's line in the key: "at 10: MV1 = 30", "10 to 20: ramp".
std::string mark_text(const Mark& mark);

}  // namespace varnok::plot
