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

SettingGuard::SettingGuard(SettingRules rules, const corvex::ValueMap& initial, Maps maps)
    : rules_(std::move(rules)), states_(rules_.size()), fixed_places_(maps == Maps::kInitial) {
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
    states_[i].kind = rule.kind;
    states_[i].slot = initial.index_of(rule.tag);
    places_needed_ = std::max(places_needed_, states_[i].slot + 1);
    if (rule.kind == SettingKind::kLowLimit) low_limits_.push_back(i);
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

// The initial map's places were checked against its size first.
inline corvex::Value& SettingGuard::value_in(corvex::ValueMap& data, std::size_t i) {
  if (fixed_places_) return data.begin()[static_cast<std::ptrdiff_t>(states_[i].slot)].second;
  return entry(data, rules_[i].tag, states_[i].slot);
}

inline const corvex::Value& SettingGuard::value_in(const corvex::ValueMap& data, std::size_t i) {
  if (fixed_places_) return data.begin()[static_cast<std::ptrdiff_t>(states_[i].slot)].second;
  return entry(data, rules_[i].tag, states_[i].slot);
}

inline void SettingGuard::check_size(const corvex::ValueMap& data) const {
  if (fixed_places_ && data.size() < places_needed_)
    throw std::logic_error("SettingGuard: the map holds " + std::to_string(data.size()) +
                           " tags, fewer than the initial one");
}

// Both run for every setting every period: the loops keep what they use in
// locals, which the calls inside cannot be taken to change.
void SettingGuard::admit(corvex::ValueMap& data, std::int64_t period) {
  check_size(data);
  const std::size_t n = states_.size();
  State* const states = states_.data();
  const auto items = data.begin();
  const bool fixed = fixed_places_;
  for (std::size_t i = 0; i < n; ++i) {
    State& state = states[i];
    state.was_refusing = state.refusing;
    state.refusing = false;
    corvex::Value& value = fixed ? items[static_cast<std::ptrdiff_t>(state.slot)].second
                                 : entry(data, rules_[i].tag, state.slot);
    // Usable stands; so does a value unchanged from the one in force.
    if (usable(state.kind, value.to_double()) || value.same_as(state.in_force)) continue;
    refuse(i, value, period, refusal(state.kind, value.to_double()));
  }
  // After the single checks, so a pair is judged on values that can stand.
  for (const std::size_t low : low_limits_) check_pair(low, data, period);
}

void SettingGuard::note(const corvex::ValueMap& data) {
  check_size(data);
  if (!fixed_places_) {
    for (std::size_t i = 0; i < states_.size(); ++i) states_[i].in_force = value_in(data, i);
    return;
  }
  const auto items = data.begin();
  for (State& state : states_) state.in_force = items[static_cast<std::ptrdiff_t>(state.slot)].second;
}

void SettingGuard::refuse(std::size_t i, corvex::Value& value, std::int64_t period, std::string_view why) {
  State& state = states_[i];
  if (!state.was_refusing) {
    corvex::report(rules_[i].tag + " = " + corvex::to_text(value) + " refused in period " +
                   std::to_string(period) + ": " + std::string(why) + "; " + corvex::to_text(state.in_force) +
                   " stays in force");
  }
  value = state.in_force;
  state.refusing = true;
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
