#include "varnok/frame/setting_guard.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "corvex/messages.h"

namespace varnok::frame {

namespace {

bool is_limit(SettingKind kind) {
  return kind == SettingKind::kLowLimit || kind == SettingKind::kHighLimit;
}

template <typename Map>
auto& entry(Map& data, const std::string& tag, std::size_t& slot) {
  if (slot < data.size() && data.begin()[static_cast<std::ptrdiff_t>(slot)].first == tag) {
    return data.begin()[static_cast<std::ptrdiff_t>(slot)].second;
  }
  const auto found =
      std::find_if(data.begin(), data.end(), [&](const auto& item) { return item.first == tag; });
  if (found == data.end()) throw corvex::MissingKey(tag);
  slot = static_cast<std::size_t>(found - data.begin());
  return found->second;
}

}  // namespace

SettingGuard::SettingGuard(SettingRules rules, const corvex::ValueMap& initial)
    : rules_(std::move(rules)), states_(rules_.size()) {
  const auto fail = [](const std::string& tag, const std::string& what) {
    return std::invalid_argument("setting \"" + tag + "\": " + what);
  };
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    const SettingRule& rule = rules_[i];
    const corvex::Value* value = initial.find(rule.tag);
    if (value == nullptr) throw fail(rule.tag, "not a tag of the plant");
    for (std::size_t j = 0; j < i; ++j) {
      if (rules_[j].tag == rule.tag) throw fail(rule.tag, "declared twice");
    }
    if (const auto why = refusal(rule.kind, value->to_double()); !why.empty()) {
      throw fail(rule.tag, "initial value " + corvex::to_text(*value) + " refused: " + std::string(why));
    }
    states_[i].in_force = *value;
  }
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    const SettingRule& rule = rules_[i];
    if (!is_limit(rule.kind)) continue;
    for (std::size_t j = 0; j < rules_.size(); ++j) {
      if (rules_[j].tag == rule.partner && is_limit(rules_[j].kind) && rules_[j].kind != rule.kind &&
          rules_[j].partner == rule.tag)
        states_[i].partner = j;
    }
    if (states_[i].partner == kNoPartner)
      throw fail(rule.tag, "limit without its partner \"" + rule.partner + "\"");
  }
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    if (rules_[i].kind != SettingKind::kLowLimit) continue;
    const corvex::Value& low = states_[i].in_force;
    const corvex::Value& high = states_[states_[i].partner].in_force;
    if (low.to_double() > high.to_double()) {
      throw fail(rules_[i].tag, "initial value " + corvex::to_text(low) + " above " + rules_[i].partner +
                                    " (" + corvex::to_text(high) + ")");
    }
  }
}

void SettingGuard::admit(corvex::ValueMap& data, std::int64_t period) {
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    states_[i].refused = false;
    corvex::Value& value = value_in(data, i);
    if (value.same_as(states_[i].in_force)) continue;
    if (const auto why = refusal(rules_[i].kind, value.to_double()); !why.empty())
      refuse(i, value, period, why);
  }
  // After the single checks, so a pair is judged on values that can stand.
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    if (rules_[i].kind == SettingKind::kLowLimit) check_pair(i, data, period);
  }
  for (State& state : states_) state.refusing = state.refused;
}

void SettingGuard::note(const corvex::ValueMap& data) {
  for (std::size_t i = 0; i < rules_.size(); ++i) states_[i].in_force = value_in(data, i);
}

corvex::Value& SettingGuard::value_in(corvex::ValueMap& data, std::size_t i) {
  return entry(data, rules_[i].tag, states_[i].slot);
}

const corvex::Value& SettingGuard::value_in(const corvex::ValueMap& data, std::size_t i) {
  return entry(data, rules_[i].tag, states_[i].slot);
}

void SettingGuard::refuse(std::size_t i, corvex::Value& value, std::int64_t period, std::string_view why) {
  State& state = states_[i];
  if (!state.refusing) {
    corvex::report(rules_[i].tag + " = " + corvex::to_text(value) + " refused in period " +
                   std::to_string(period) + ": " + std::string(why) + "; " + corvex::to_text(state.in_force) +
                   " stays in force");
  }
  value = state.in_force;
  state.refused = true;
}

void SettingGuard::check_pair(std::size_t low, corvex::ValueMap& data, std::int64_t period) {
  const std::size_t high = states_[low].partner;
  corvex::Value& low_value = value_in(data, low);
  corvex::Value& high_value = value_in(data, high);
  if (!(low_value.to_double() > high_value.to_double())) return;
  // Both texts before either value is put back. The values in force are in
  // order, so putting back every side that was written leaves the pair so.
  const std::string low_text = corvex::to_text(low_value);
  const std::string high_text = corvex::to_text(high_value);
  if (!low_value.same_as(states_[low].in_force)) {
    refuse(low, low_value, period, "above " + rules_[high].tag + " (" + high_text + ")");
  }
  if (!high_value.same_as(states_[high].in_force)) {
    refuse(high, high_value, period, "below " + rules_[low].tag + " (" + low_text + ")");
  }
}

}  // namespace varnok::frame
