// varnok-batch: runs a plant model without any server, as fast as it can,
// and prints the chosen tags after every period as CSV.

#include <CLI/CLI.hpp>
#include <iostream>

#include "batch_run.h"
#include "varnok/cli.h"
#include "varnok/errors.h"
#include "varnok/plantfile/plant_file.h"
#include "varnok/plot/results_plot.h"

namespace {

// The run as the plot draws it: periods 1..n, the experiment's actions marked.
varnok::plot::Results plot_of(varnok::batch::Results results, std::string title) {
  varnok::plot::Results plot{.title = std::move(title),
                             .periods = {},
                             .tags = std::move(results.tags),
                             .columns = std::move(results.values),
                             .marks = {}};
  const std::size_t rows = plot.columns.empty() ? 0 : plot.columns.front().size();
  for (std::size_t k = 1; k <= rows; ++k) plot.periods.push_back(static_cast<std::int64_t>(k));
  for (auto& mark : results.marks) plot.marks.push_back({mark.from, mark.to, std::move(mark.label)});
  return plot;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kProgram = "varnok-batch";
  varnok::batch::BatchOptions options;
  std::vector<std::string> set_texts;
  std::string tag_list;
  std::vector<std::string> search_dirs;
  std::string plot_path;

  CLI::App app{"Runs a plant model offline and prints its tags after every period as CSV."};
  app.add_option("MODULE", options.module, "module name, e.g. varnok.SISO, or a plant file (.yaml or .yml)")
      ->required();
  app.add_option("OBJECT", options.object,
                 "object exported by the module, e.g. TrainingSISO; none for a plant file");
  app.add_option("--steps", options.steps, "periods to run")
      ->capture_default_str()
      ->transform(varnok::cli::whole_number(1));
  app.add_option("--set", set_texts,
                 "TAG=VALUE@K: write VALUE to TAG before period K, as a client would; can be repeated");
  app.add_option("--tags", tag_list, "which tags to print, in this order, comma-separated (default: all)");
  app.add_option(
      "--experiment", options.experiment,
      "run the experiment in this file: its periods, writes and recorded tags, in place of --steps, "
      "--set and --tags");
  app.add_option("--plot", plot_path,
                 "after the run, draw the printed tags against the period into this PNG file, the "
                 "experiment's actions marked");
  app.add_option("--search", search_dirs, "look for the module in this folder first; can be repeated");

  // Standard output carries the CSV: no synchronisation with C's stdio.
  std::ios::sync_with_stdio(false);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return varnok::cli::parse_failure(app, e, kProgram);
  }
  try {
    const bool plant_file = varnok::plantfile::is_plant_file_name(options.module);
    if (plant_file && !options.object.empty())
      throw varnok::UsageError(options.module + " is a plant file: it takes no OBJECT (\"" + options.object +
                               "\")");
    if (!plant_file && options.object.empty()) throw varnok::UsageError("OBJECT is required with a module");
    if (app.count("--experiment") != 0) {
      for (const char* other : {"--steps", "--set", "--tags"}) {
        if (app.count(other) != 0)
          throw varnok::UsageError(
              std::string("--experiment and ") + other +
              " cannot be used together: the experiment file gives the periods, writes and "
              "recorded tags");
      }
    }
    for (const auto& text : set_texts) options.writes.push_back(varnok::batch::parse_scheduled_write(text));
    std::size_t start = 0;
    while (!tag_list.empty() && start <= tag_list.size()) {
      const std::size_t comma = tag_list.find(',', start);
      const std::string tag =
          tag_list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (tag.empty()) throw varnok::UsageError("--tags: empty tag name in \"" + tag_list + "\"");
      options.tags.push_back(tag);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    for (const auto& dir : search_dirs) options.search_dirs.emplace_back(dir);
    if (plot_path.empty()) {
      varnok::batch::run_batch(options, std::cout);
    } else {
      // Before the run: a program without Qt's platform fails at once, not after it.
      varnok::plot::ensure_offscreen_app();
      varnok::batch::Results results = varnok::batch::run_batch_with_results(options, std::cout);
      std::string title = options.experiment.empty() ? options.module + " " + options.object
                                                     : options.experiment.filename().string();
      if (!results.description.empty()) title = results.description;
      varnok::plot::write_png(plot_of(std::move(results), std::move(title)), plot_path);
    }
  } catch (const std::exception& e) {
    return varnok::report(kProgram, e);
  }
  return varnok::kExitOk;
}
