#include "varnok/experiment/marks.h"

#include <charconv>
#include <cmath>

#include "overloaded.h"

namespace varnok::experiment {

namespace {

std::string shortest(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

std::string label(const Action& action) {
  const auto each = [](const std::vector<std::pair<TagRef, double>>& pairs, auto&& one) {
    std::string out;
    for (const auto& [tag, value] : pairs) out += (out.empty() ? "" : ", ") + tag.name + one(value);
    return out;
  };
  return std::visit(
      Overloaded{
          [&](const Set& set) { return each(set.values, [](double v) { return " = " + shortest(v); }); },
          [&](const Step& step) {
            return each(step.deltas, [](double v) { return (std::signbit(v) ? " " : " +") + shortest(v); });
          },
          [](const Ramp& ramp) { return ramp.tag.name + " ramp to " + shortest(ramp.to); },
          [](const Prbs& prbs) { return prbs.tag.name + " PRBS +/-" + shortest(prbs.amplitude); }},
      action.what);
}

}  // namespace

std::vector<Mark> marks(const Experiment& experiment) {
  std::vector<Mark> out;
  for (const auto& action : experiment.actions)
    out.push_back({action.first_period(), action.last_period(), label(action)});
  return out;
}

}  // namespace varnok::experiment
