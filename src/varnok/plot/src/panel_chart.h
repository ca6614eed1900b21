#pragma once

// One panel of a results plot: a QChart of some tags against the period,
// styled for print (no animation, no shadow, fonts in pixels).

#include <QFont>
#include <cstddef>
#include <vector>

#include "varnok/plot/plot_layout.h"
#include "varnok/plot/results_plot.h"

namespace QtCharts {
class QChart;
}

namespace varnok::plot {

// Sizes in pixels, not points: the picture looks the same whatever the
// screen's resolution.
QFont pixel_font(int pixels, bool bold = false);

// The chart of `tags`; period labels and title only on the bottom panel.
// The caller (a scene) takes it.
QtCharts::QChart* make_panel_chart(const Results& results, const std::vector<std::size_t>& tags,
                                   Range periods, bool bottom);

// Period ticks on round numbers, as many as fit `plot_width` pixels.
void set_period_ticks(QtCharts::QChart& chart, Range periods, double plot_width);

}  // namespace varnok::plot
