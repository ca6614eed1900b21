#include "batch_run.h"

#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <variant>

#include "corvex/messages.h"
#include "corvex/simulink.h"
#include "varnok/experiment/experiment_file.h"
#include "varnok/experiment/schedule.h"
#include "varnok/frame/errors.h"
#include "varnok/frame/loader.h"
#include "varnok/number_text.h"
#include "varnok/plantfile/file_plant.h"

namespace varnok::batch {

ScheduledWrite parse_scheduled_write(const std::string& text) {
  const auto fail = [&](const std::string& why) {
    return UsageError("--set \"" + text + "\": " + why + " (expected TAG=VALUE@PERIOD)");
  };
  const std::size_t eq = text.find('=');
  const std::size_t at = text.rfind('@');
  if (eq == std::string::npos || at == std::string::npos || at < eq) throw fail("malformed");
  ScheduledWrite write;
  write.tag = text.substr(0, eq);
  if (write.tag.empty()) throw fail("empty tag");
  const auto value = parse_number(std::string_view(text).substr(eq + 1, at - eq - 1));
  if (!value) throw fail("value is not a decimal number");
  write.value = *value;
  const auto period = parse_whole_number(std::string_view(text).substr(at + 1));
  if (!period || *period < 1) throw fail("period is not a whole number of at least 1");
  write.period = *period;
  return write;
}

namespace {

// The simulation to run and the name its messages use. A module's object
// stays alive through the module that holds it.
struct Loaded {
  std::shared_ptr<frame::ModuleLoader> loader;
  std::shared_ptr<void> module;
  std::shared_ptr<corvex::Simulink> simulation;
  std::string name;
};

Loaded load(const BatchOptions& options) {
  Loaded loaded;
  if (plantfile::is_plant_file_name(options.module)) {
    loaded.simulation = plantfile::build_file_plant(plantfile::read_plant_file(options.module));
    loaded.name = options.module;
    return loaded;
  }
  loaded.loader = std::make_shared<frame::ModuleLoader>(
      std::vector<std::filesystem::path>{frame::ModuleLoader::program_plugin_root()});
  for (auto it = options.search_dirs.rbegin(); it != options.search_dirs.rend(); ++it)
    loaded.loader->add_search_dir(*it);
  const auto module = loaded.loader->load(options.module);
  loaded.module = module;
  const auto object = module->get_object(options.object);
  const auto* simulation = std::get_if<std::shared_ptr<corvex::Simulink>>(&object);
  if (simulation == nullptr) {
    throw SetupError("object \"" + options.object + "\" of " + options.module +
                     " is a task, not a simulation");
  }
  loaded.simulation = *simulation;
  loaded.name = options.object;
  return loaded;
}

// What to run: how many periods, which tags to print and the writes to make
// before the task of each period, from --set or from an experiment.
struct Plan {
  std::int64_t steps = 0;
  std::vector<std::string> tags;
  std::function<std::vector<experiment::Write>(std::int64_t period)> writes_of;
  std::vector<experiment::Mark> marks;
  std::string description;
};

Plan option_plan(const BatchOptions& options, const Loaded& loaded, const corvex::ValueMap& data) {
  Plan plan;
  plan.steps = options.steps;
  plan.tags = options.tags.empty() ? data.keys() : options.tags;
  for (const auto& tag : plan.tags) {
    if (!data.contains(tag)) throw SetupError("--tags: " + loaded.name + " has no tag \"" + tag + "\"");
  }
  for (const auto& write : options.writes) {
    if (!data.contains(write.tag))
      throw SetupError("--set: " + loaded.name + " has no tag \"" + write.tag + "\"");
    if (write.period > options.steps) {
      throw SetupError("--set " + write.tag + ": period " + std::to_string(write.period) +
                       " is after the last (" + std::to_string(options.steps) + ")");
    }
  }
  plan.writes_of = [&writes = options.writes](std::int64_t period) {
    std::vector<experiment::Write> due;
    for (const auto& write : writes) {
      if (write.period == period) due.push_back({write.tag, write.value});
    }
    return due;
  };
  return plan;
}

Plan experiment_plan(const experiment::Experiment& planned, const Loaded& loaded, corvex::ValueMap& data) {
  experiment::check_tags(
      planned, [&](std::string_view tag) { return data.contains(tag); }, loaded.name);
  Plan plan;
  plan.steps = planned.periods;
  for (const auto& tag : planned.record) plan.tags.push_back(tag.name);
  plan.writes_of = [schedule = std::make_shared<experiment::Schedule>(planned), &data](std::int64_t period) {
    return schedule->writes_before(period, [&](std::string_view tag) { return data.at(tag).to_double(); });
  };
  plan.marks = experiment::marks(planned);
  plan.description = planned.description;
  return plan;
}

Results run(const BatchOptions& options, std::ostream& out, bool keep) {
  // Standard output carries the CSV.
  corvex::set_message_sink([](const std::string& line) { std::cerr << line << std::endl; });
  // A bad experiment file stops the run before the plant is even loaded.
  std::optional<experiment::Experiment> planned;
  if (!options.experiment.empty()) planned = experiment::read_experiment_file(options.experiment);
  const Loaded loaded = load(options);
  corvex::Simulink& sim = *loaded.simulation;
  corvex::ValueMap& data = sim.get_data();
  Plan plan = planned ? experiment_plan(*planned, loaded, data) : option_plan(options, loaded, data);

  Results results;
  if (keep) {
    results.tags = plan.tags;
    results.values.resize(plan.tags.size());
    results.marks = std::move(plan.marks);
    results.description = plan.description;
  }
  out << "period";
  for (const auto& tag : plan.tags) out << ',' << tag;
  out << '\n';
  // Rows are made in one string and written whole: printing every tag must
  // not cost more than the period itself.
  std::string row;
  std::vector<std::size_t> places;
  for (const auto& tag : plan.tags) places.push_back(data.index_of(tag));
  for (std::int64_t period = 1; period <= plan.steps; ++period) {
    for (const auto& write : plan.writes_of(period)) data.set(write.tag, write.value);
    sim.run_task(period);
    row.clear();
    corvex::append_text(row, corvex::Value(period));
    for (std::size_t i = 0; i < plan.tags.size(); ++i) {
      const corvex::Value& value = data.value_at(places[i]);
      row += ',';
      corvex::append_text(row, value);
      if (keep) results.values[i].push_back(value.to_double());
    }
    row += '\n';
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
  out.flush();
  return results;
}

}  // namespace

void run_batch(const BatchOptions& options, std::ostream& out) {
  run(options, out, false);
}

Results run_batch_with_results(const BatchOptions& options, std::ostream& out) {
  return run(options, out, true);
}

}  // namespace varnok::batch
