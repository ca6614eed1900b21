#pragma once

// An experiment's results drawn as a PNG: the recorded tags against the
// period, stacked panels sharing the period axis, the actions marked in
// every panel and listed under the picture as a numbered key.
//
// Panels: one per tag, in the order of the tags, as long as there are at
// most kMaxPanels (6) tags. With more, neighbouring tags share a panel:
// as few tags per panel as keeps the panels at six, spread evenly (7 tags:
// 2+2+2+1; 13: 3+3+3+2+2). Callers that want a controller's PV next to its
// SP put those tags next to each other. See panels_of() in plot_layout.h.
//
// Drawing needs Qt: write_png must be called on the GUI thread of a
// QApplication (the launcher's, or the one ensure_offscreen_app() makes for a
// program without a window).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace varnok::plot {

// An action: at period `from`, or over the periods from..to (to == from for
// a single period).
struct Mark {
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::string label;
};

struct Results {
  std::string title;                         // on top of the picture; empty: none
  std::vector<std::int64_t> periods;         // x values, increasing; gaps are drawn as a straight line
  std::vector<std::string> tags;             // one column per tag
  std::vector<std::vector<double>> columns;  // columns[i][row]; NaN (or inf) = no value, breaks the line
  std::vector<Mark> marks;
};

// The picture's size in pixels. Height 0: it grows with the panels and the
// key of the marks. A height given is shared out; too small for the panels
// is refused.
struct PlotSize {
  int width = 1200;
  int height = 0;
};

// Draws the results and writes them to `path` as a PNG (replacing it only
// once the whole file is written). Throws UsageError for results it cannot
// draw or a size out of range, RunError naming the path when the file cannot
// be written, and RunError when not called on a QApplication's GUI thread.
void write_png(const Results& results, const std::filesystem::path& path, PlotSize size = {});

// For programs without a window: when there is no Qt application yet, makes
// a QApplication on the offscreen platform, kept for the process' life.
// Call it from main()'s thread; calling it again does nothing. Throws
// RunError when the program already has a QCoreApplication that is not a
// QApplication (charts need one).
void ensure_offscreen_app();

}  // namespace varnok::plot
