#include "overloaded.h"
#include "varnok/experiment/experiment_file.h"

namespace varnok::experiment {

std::string_view Action::kind() const {
  return std::visit(Overloaded{[](const Set&) { return "set"; }, [](const Step&) { return "step"; },
                               [](const Ramp&) { return "ramp"; }, [](const Prbs&) { return "prbs"; }},
                    what);
}

std::vector<TagRef> Action::tags() const {
  const auto keys = [](const std::vector<std::pair<TagRef, double>>& pairs) {
    std::vector<TagRef> out;
    for (const auto& [tag, value] : pairs) out.push_back(tag);
    return out;
  };
  return std::visit(Overloaded{[&](const Set& set) { return keys(set.values); },
                               [&](const Step& step) { return keys(step.deltas); },
                               [](const Ramp& ramp) { return std::vector<TagRef>{ramp.tag}; },
                               [](const Prbs& prbs) { return std::vector<TagRef>{prbs.tag}; }},
                    what);
}

std::int64_t Action::last_period() const {
  return std::visit(Overloaded{[&](const Set&) { return at; }, [&](const Step&) { return at; },
                               [&](const Ramp& ramp) { return at + ramp.periods - 1; },
                               [&](const Prbs& prbs) { return at + prbs.periods; }},
                    what);
}

}  // namespace varnok::experiment
