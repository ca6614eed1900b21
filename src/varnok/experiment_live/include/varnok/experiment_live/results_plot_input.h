#pragma once

// A live run's rows as the results plot takes them: the recorded tags
// against the period, the experiment's actions marked, the description (or
// the file's name) as the title. Header-only, so that the core does not
// link the plot: programs that draw link varnok::plot.

#include <filesystem>
#include <vector>

#include "varnok/experiment/marks.h"
#include "varnok/experiment_live/live_experiment.h"
#include "varnok/plot/results_plot.h"

namespace varnok::experiment_live {

inline plot::Results results_plot_input(const experiment::Experiment& experiment,
                                        const std::vector<Row>& rows) {
  plot::Results results;
  results.title = !experiment.description.empty()
                      ? experiment.description
                      : std::filesystem::path(experiment.file).filename().string();
  for (const auto& tag : experiment.record) results.tags.push_back(tag.name);
  results.columns.resize(results.tags.size());
  for (const Row& row : rows) {
    results.periods.push_back(row.period);
    for (std::size_t i = 0; i < results.columns.size(); ++i)
      results.columns[i].push_back(row.values.at(i).to_double());
  }
  for (const auto& mark : experiment::marks(experiment))
    results.marks.push_back({mark.from, mark.to, mark.label});
  return results;
}

}  // namespace varnok::experiment_live
