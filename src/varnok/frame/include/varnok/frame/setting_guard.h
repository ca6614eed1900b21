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
  // Throws std::invalid_argument naming the tag for a setting absent from
  // `initial`, a tag declared twice, a limit without its opposite partner,
  // or an initial value the rules refuse.
  SettingGuard(SettingRules rules, const corvex::ValueMap& initial);

  // Before period `period`, on the map holding the clients' writes.
  void admit(corvex::ValueMap& data, std::int64_t period);

  // After the period: what it left in the map is in force.
  void note(const corvex::ValueMap& data);

  const SettingRules& rules() const noexcept { return rules_; }

 private:
  static constexpr std::size_t kNoPartner = static_cast<std::size_t>(-1);
  struct State {
    corvex::Value in_force;
    std::size_t partner = kNoPartner;
    std::size_t slot = 0;   // the tag's place in the map, as last found
    bool refusing = false;  // an episode is running
    bool refused = false;   // in the period being admitted
  };

  // The setting's entry in the map. A tag keeps its place in a map, so the
  // place found once is checked by name and used again: no hashing.
  corvex::Value& value_in(corvex::ValueMap& data, std::size_t i);
  const corvex::Value& value_in(const corvex::ValueMap& data, std::size_t i);
  void refuse(std::size_t i, corvex::Value& value, std::int64_t period, std::string_view why);
  // Low and high limit of a pair are in order.
  void check_pair(std::size_t low, corvex::ValueMap& data, std::int64_t period);

  SettingRules rules_;
  std::vector<State> states_;
};

}  // namespace varnok::frame
