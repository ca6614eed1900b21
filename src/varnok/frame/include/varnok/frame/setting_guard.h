#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "corvex/value.h"
#include "varnok/frame/settings.h"

namespace varnok::frame {

// Keeps a plant's settings usable. Before each period it looks at every
// setting whose value differs from the one in force (a client wrote it):
// a value its rule refuses, or a limit crossing its partner, is replaced in
// the live map by the value in force, so the plant runs on that and the
// gateway publishes it back to every client. One line goes to report() per
// episode: consecutive periods in which that tag's writes are refused. A
// value equal to the one in force is never refused, so a plant's own output
// kept in a setting (PID_MV1, a random DV) always stands.
class SettingGuard final {
 public:
  // The maps admit and note are given.
  enum class Maps {
    kAny,      // any map holding the settings, wherever it keeps them
    kInitial,  // `initial` itself every period (a simulation's live map,
               // whose tags keep their places): no name is compared again
  };

  // Throws std::invalid_argument naming the tag for a setting absent from
  // `initial`, a tag declared twice, a limit without its opposite partner,
  // or an initial value the rules refuse.
  SettingGuard(SettingRules rules, const corvex::ValueMap& initial, Maps maps = Maps::kAny);

  // Before period `period`, on the map holding the clients' writes.
  void admit(corvex::ValueMap& data, std::int64_t period);

  // After the period: what it left in the map is in force.
  void note(const corvex::ValueMap& data);

  const SettingRules& rules() const noexcept { return rules_; }

 private:
  static constexpr std::size_t kNoPartner = static_cast<std::size_t>(-1);
  struct State {
    corvex::Value in_force;
    SettingKind kind = SettingKind::kValue;  // the rule's, at hand
    std::size_t partner = kNoPartner;
    std::size_t slot = 0;       // the tag's place in the map, as last found
    bool was_refusing = false;  // in the period before: an episode is running
    bool refusing = false;      // in the period last admitted
  };

  // The setting's entry in the map. A tag keeps its place in a map, so the
  // place found once is used again: checked by name unless the map is the
  // initial one, never hashed.
  corvex::Value& value_in(corvex::ValueMap& data, std::size_t i);
  const corvex::Value& value_in(const corvex::ValueMap& data, std::size_t i);
  // For the initial map: that it still holds every place.
  void check_size(const corvex::ValueMap& data) const;
  void refuse(std::size_t i, corvex::Value& value, std::int64_t period, std::string_view why);
  // Low and high limit of a pair are in order.
  void check_pair(std::size_t low, corvex::ValueMap& data, std::int64_t period);

  SettingRules rules_;
  std::vector<State> states_;
  std::vector<std::size_t> low_limits_;  // rules of that kind
  bool fixed_places_;
  std::size_t places_needed_ = 0;  // in the initial map: its last setting's place + 1
};

}  // namespace varnok::frame
