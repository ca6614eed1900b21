#include "varnok/experiment/schedule.h"

#include <algorithm>
#include <stdexcept>

#include "overloaded.h"

namespace varnok::experiment {

namespace {

double ramp_value(const Ramp& ramp, double v0, std::int64_t i) {
  if (i == ramp.periods) return ramp.to;  // exactly, whatever the rounding on the way
  return v0 + (ramp.to - v0) * static_cast<double>(i) / static_cast<double>(ramp.periods);
}

double prbs_level(const Prbs& prbs, double v0, std::mt19937_64& draws) {
  return (draws() >> 63) != 0 ? v0 + prbs.amplitude : v0 - prbs.amplitude;
}

}  // namespace

Schedule::Schedule(const Experiment& experiment) : actions_(experiment.actions) {
  // The reader orders them so; an Experiment built by hand may not be.
  std::stable_sort(actions_.begin(), actions_.end(),
                   [](const Action& a, const Action& b) { return a.at < b.at; });
}

std::vector<Write> Schedule::writes_before(std::int64_t period,
                                           const std::function<double(std::string_view)>& value_in_force) {
  if (period != period_ + 1) {
    throw std::logic_error("Schedule: asked for period " + std::to_string(period) + " after " +
                           std::to_string(period_));
  }
  period_ = period;
  std::vector<Write> writes;
  // Running actions started earlier, so they come first in action order.
  std::erase_if(running_, [&](Running& running) { return !go_on(running, period, writes); });
  for (; next_ < actions_.size() && actions_[next_].at <= period; ++next_)
    start(next_, value_in_force, writes);
  return writes;
}

std::vector<std::string> Schedule::tags_needed(std::int64_t period) const {
  std::vector<std::string> tags;
  const auto first = std::partition_point(actions_.begin(), actions_.end(),
                                          [&](const Action& action) { return action.at < period; });
  for (auto action = first; action != actions_.end() && action->at == period; ++action) {
    if (std::holds_alternative<Set>(action->what)) continue;
    for (const auto& tag : action->tags()) tags.push_back(tag.name);
  }
  return tags;
}

void Schedule::start(std::size_t index, const std::function<double(std::string_view)>& value_in_force,
                     std::vector<Write>& writes) {
  std::visit(
      Overloaded{[&](const Set& set) {
                   for (const auto& [tag, value] : set.values) writes.push_back({tag.name, value});
                 },
                 [&](const Step& step) {
                   for (const auto& [tag, delta] : step.deltas)
                     writes.push_back({tag.name, value_in_force(tag.name) + delta});
                 },
                 [&](const Ramp& ramp) {
                   const double v0 = value_in_force(ramp.tag.name);
                   writes.push_back({ramp.tag.name, ramp_value(ramp, v0, 1)});
                   if (ramp.periods > 1) running_.push_back({index, v0, 0.0, {}});
                 },
                 [&](const Prbs& prbs) {
                   Running running{index, value_in_force(prbs.tag.name), 0.0, std::mt19937_64(prbs.seed)};
                   running.level = prbs_level(prbs, running.v0, running.draws);
                   writes.push_back({prbs.tag.name, running.level});
                   running_.push_back(std::move(running));
                 }},
      actions_[index].what);
}

bool Schedule::go_on(Running& running, std::int64_t period, std::vector<Write>& writes) {
  const Action& action = actions_[running.action];
  const std::int64_t offset = period - action.at;  // 1 or more here
  if (const auto* ramp = std::get_if<Ramp>(&action.what)) {
    writes.push_back({ramp->tag.name, ramp_value(*ramp, running.v0, offset + 1)});
    return offset + 1 < ramp->periods;
  }
  const auto& prbs = std::get<Prbs>(action.what);
  if (offset == prbs.periods) {
    writes.push_back({prbs.tag.name, running.v0});
    return false;
  }
  if (offset % prbs.min_hold == 0) {
    const double level = prbs_level(prbs, running.v0, running.draws);
    if (level != running.level) writes.push_back({prbs.tag.name, level});
    running.level = level;
  }
  return true;
}

}  // namespace varnok::experiment
