#include "varnok/frame/settings.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "corvex/value.h"
#include "varnok/frame/tag_names.h"

namespace varnok::frame {

namespace {

SettingRules of_kind(std::initializer_list<std::string_view> tags, SettingKind kind) {
  SettingRules out;
  for (const auto tag : tags) out.push_back({std::string(tag), kind, {}});
  return out;
}

}  // namespace

std::string_view refusal(SettingKind kind, double value) {
  static const std::string too_large = "magnitude above " + corvex::to_text(kMaxSettingMagnitude);
  static const std::string too_small =
      "positive but below " + corvex::to_text(kMinPositiveDivisor) + ", so its action would overflow";
  if (usable(kind, value)) return {};
  if (!std::isfinite(value)) return "not a finite number";
  if (std::abs(value) > kMaxSettingMagnitude) return too_large;
  return too_small;
}

SettingRules values(std::initializer_list<std::string_view> tags) {
  return of_kind(tags, SettingKind::kValue);
}

SettingRules inputs_of(std::initializer_list<std::reference_wrapper<const corvex::PlantDescription>> plants) {
  SettingRules out;
  for (const corvex::PlantDescription& plant : plants) {
    for (const auto& [cv, inputs] : plant) {
      for (const auto& [input, path] : inputs) {
        SettingRule rule{input, SettingKind::kValue, {}};
        if (std::find(out.begin(), out.end(), rule) == out.end()) out.push_back(std::move(rule));
      }
    }
  }
  return out;
}

SettingRules divisors(std::initializer_list<std::string_view> tags) {
  return of_kind(tags, SettingKind::kDivisor);
}

SettingRules switches(std::initializer_list<std::string_view> tags) {
  return of_kind(tags, SettingKind::kFinite);
}

SettingRules limits(std::string_view low, std::string_view high) {
  return {{std::string(low), SettingKind::kLowLimit, std::string(high)},
          {std::string(high), SettingKind::kHighLimit, std::string(low)}};
}

SettingRules unread(std::initializer_list<std::string_view> tags) {
  return of_kind(tags, SettingKind::kFinite);
}

SettingRules spares() {
  SettingRules out;
  for (auto& tag : spare_tags()) out.push_back({std::move(tag), SettingKind::kFinite, {}});
  return out;
}

SettingRules join(std::initializer_list<SettingRules> parts) {
  SettingRules out;
  for (const SettingRules& part : parts) {
    for (const SettingRule& rule : part) {
      if (std::find(out.begin(), out.end(), rule) == out.end()) out.push_back(rule);
    }
  }
  return out;
}

}  // namespace varnok::frame
