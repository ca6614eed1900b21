#include "varnok/experiment/experiment_file.h"

#include <algorithm>
#include <map>
#include <set>

#include "varnok/yamlfile/reader.h"

namespace varnok::experiment {

namespace {

using yamlfile::in_quotes;

constexpr std::string_view kKinds[] = {"set", "step", "ramp", "prbs"};

bool is_kind(std::string_view key) {
  return std::find(std::begin(kKinds), std::end(kKinds), key) != std::end(kKinds);
}

std::string spans(std::int64_t first, std::int64_t last) {
  if (first == last) return "period " + std::to_string(first);
  return "periods " + std::to_string(first) + ".." + std::to_string(last);
}

// Reads one file; every fault becomes an ExperimentFileError at the node it is about.
class Reader : public yamlfile::Reader {
 public:
  using yamlfile::Reader::Reader;

  Experiment read(const std::string& text) {
    const YAML::Node root = load(text);
    if (!root.IsMap()) throw fail(root, "expected a mapping with periods, record and actions at the top");
    only_keys(root, {"description", "periods", "record", "actions"});

    Experiment experiment;
    experiment.file = file();
    if (const auto node = member(root, "description")) experiment.description = text_of(node, "description");
    experiment.periods = whole_number(required(root, "periods"), "periods", 1);
    experiment.record = read_record(required(root, "record"));
    if (const auto node = member(root, "actions")) {
      if (!node.IsSequence()) throw fail(node, "actions must be a list, e.g. [{at: 10, set: {MV1: 30}}]");
      for (const auto& item : node) experiment.actions.push_back(read_action(item, experiment.periods));
      check_overlaps(experiment.actions);
      std::stable_sort(experiment.actions.begin(), experiment.actions.end(),
                       [](const Action& a, const Action& b) { return a.at < b.at; });
    }
    return experiment;
  }

 private:
  TagRef tag_ref(const YAML::Node& node, std::string_view what) {
    TagRef tag{text_of(node, what), at(node.Mark())};
    if (tag.name.empty()) throw fail(node, "empty tag name");
    return tag;
  }

  std::vector<TagRef> read_record(const YAML::Node& node) {
    if (!node.IsSequence() || node.size() == 0)
      throw fail(node, "record must be a list of the tags to record, e.g. [MV1, CV1]");
    std::vector<TagRef> record;
    std::set<std::string> seen;
    for (const auto& item : node) {
      TagRef tag = tag_ref(item, "a recorded tag");
      if (!seen.insert(tag.name).second)
        throw fail(item, "tag " + in_quotes(tag.name) + " is recorded twice");
      record.push_back(std::move(tag));
    }
    return record;
  }

  Action read_action(const YAML::Node& node, std::int64_t last) {
    if (!node.IsMap()) throw fail(node, "an action must be a mapping, e.g. {at: 10, set: {MV1: 30}}");
    std::string kind;
    std::set<std::string> seen;
    for (const auto& entry : node) {
      const std::string key = key_text(entry.first);
      if (!seen.insert(key).second) throw fail(entry.first, "key " + in_quotes(key) + " given twice");
      if (key == "at") continue;
      if (!is_kind(key))
        throw fail(entry.first,
                   "unknown action " + in_quotes(key) + " (expected one of: set, step, ramp, prbs)");
      if (!kind.empty())
        throw fail(entry.first, "an action does one thing, not both " + kind + " and " + key);
      kind = key;
    }
    if (kind.empty()) throw fail(node, "an action needs one of set, step, ramp or prbs");

    Action action;
    action.where = at(node.Mark());
    const YAML::Node when = required(node, "at");
    action.at = whole_number(when, "at", 1);
    if (action.at > last)
      throw fail(when,
                 "period " + std::to_string(action.at) + " is after the last (" + std::to_string(last) + ")");

    const YAML::Node body = member(node, kind);
    if (kind == "set") {
      action.what = Set{tag_values(body, kind, "{MV1: 30}")};
    } else if (kind == "step") {
      action.what = Step{tag_values(body, kind, "{MV1: -5}")};
    } else if (kind == "ramp") {
      action.what = read_ramp(body);
    } else {
      action.what = read_prbs(body);
    }
    if (kind == "ramp" || kind == "prbs") check_end(action, body["periods"], last);
    return action;
  }

  std::vector<std::pair<TagRef, double>> tag_values(const YAML::Node& node, std::string_view kind,
                                                    std::string_view example) {
    if (!node.IsMap() || node.size() == 0)
      throw fail(node, std::string(kind) + " must map tags to numbers, e.g. " + std::string(example));
    std::vector<std::pair<TagRef, double>> out;
    std::set<std::string> seen;
    for (const auto& entry : node) {
      TagRef tag{key_text(entry.first), at(entry.first.Mark())};
      if (tag.name.empty()) throw fail(entry.first, "empty tag name");
      if (!seen.insert(tag.name).second)
        throw fail(entry.first, "tag " + in_quotes(tag.name) + " given twice");
      const double value = number(entry.second, tag.name);
      out.emplace_back(std::move(tag), value);
    }
    return out;
  }

  Ramp read_ramp(const YAML::Node& node) {
    if (!node.IsMap()) throw fail(node, "ramp must be a mapping, e.g. {tag: SP1, to: 35, periods: 20}");
    only_keys(node, {"tag", "to", "periods"});
    Ramp ramp;
    ramp.tag = tag_ref(required(node, "tag"), "tag");
    ramp.to = number(required(node, "to"), "to");
    ramp.periods = whole_number(required(node, "periods"), "periods", 1);
    return ramp;
  }

  Prbs read_prbs(const YAML::Node& node) {
    if (!node.IsMap())
      throw fail(node, "prbs must be a mapping, e.g. {tag: MV1, amplitude: 1, min_hold: 5, periods: 200}");
    only_keys(node, {"tag", "amplitude", "min_hold", "periods", "seed"});
    Prbs prbs;
    prbs.tag = tag_ref(required(node, "tag"), "tag");
    const YAML::Node amplitude = required(node, "amplitude");
    prbs.amplitude = number(amplitude, "amplitude");
    if (!(prbs.amplitude > 0)) throw fail(amplitude, "amplitude must be greater than 0");
    prbs.min_hold = whole_number(required(node, "min_hold"), "min_hold", 1);
    const YAML::Node periods = required(node, "periods");
    prbs.periods = whole_number(periods, "periods", 1);
    if (prbs.periods % prbs.min_hold != 0) {
      throw fail(periods, "periods (" + std::to_string(prbs.periods) + ") must be a multiple of min_hold (" +
                              std::to_string(prbs.min_hold) + ")");
    }
    if (const auto seed = member(node, "seed"))
      prbs.seed = static_cast<std::uint64_t>(whole_number(seed, "seed", 0));
    return prbs;
  }

  // A ramp's or PRBS's last write must fall within the experiment. Both
  // numbers are at most INT64_MAX, so their sum fits unsigned.
  void check_end(const Action& action, const YAML::Node& periods, std::int64_t last) {
    std::uint64_t end = static_cast<std::uint64_t>(action.at);
    if (const auto* ramp = std::get_if<Ramp>(&action.what))
      end += static_cast<std::uint64_t>(ramp->periods) - 1;
    if (const auto* prbs = std::get_if<Prbs>(&action.what)) end += static_cast<std::uint64_t>(prbs->periods);
    if (end <= static_cast<std::uint64_t>(last)) return;
    throw fail(periods, "the " + std::string(action.kind()) + " ends in period " + std::to_string(end) +
                            ", after the last (" + std::to_string(last) + ")");
  }

  // Two actions may not write one tag in the same period; the later one in
  // the file is refused.
  void check_overlaps(const std::vector<Action>& actions) {
    std::map<std::string, std::vector<const Action*>> writers;
    for (const auto& action : actions) {
      for (const auto& tag : action.tags()) {
        auto& earlier = writers[tag.name];
        for (const Action* other : earlier) {
          if (action.first_period() <= other->last_period() &&
              other->first_period() <= action.last_period()) {
            throw fail_at(tag.where, tag.name + " is also written by the action at line " +
                                         std::to_string(other->where.line) + " in " +
                                         spans(other->first_period(), other->last_period()));
          }
        }
        earlier.push_back(&action);
      }
    }
  }
};

}  // namespace

Experiment read_experiment_file(const std::filesystem::path& path) {
  return parse_experiment(yamlfile::read_text_file(path, "experiment file"), path.string());
}

Experiment parse_experiment(const std::string& text, const std::string& file) {
  return Reader(file).read(text);
}

void check_tags(const Experiment& experiment, const std::function<bool(std::string_view)>& has_tag,
                std::string_view plant_name) {
  std::vector<TagRef> tags = experiment.record;
  for (const auto& action : experiment.actions) {
    for (auto& tag : action.tags()) tags.push_back(std::move(tag));
  }
  std::stable_sort(tags.begin(), tags.end(), [](const TagRef& a, const TagRef& b) {
    return std::pair(a.where.line, a.where.column) < std::pair(b.where.line, b.where.column);
  });
  for (const auto& tag : tags) {
    if (!has_tag(tag.name)) {
      throw ExperimentFileError(experiment.file, tag.where,
                                "tag " + in_quotes(tag.name) + " is not a tag of " + std::string(plant_name));
    }
  }
}

}  // namespace varnok::experiment
