#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "corvex/plant_description.h"
#include "corvex/value.h"

namespace varnok::frame {

// Every occurrence of `from` in text replaced by `to`, left to right.
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

// "CV" → prefix + "CV", then "MV" → prefix + "MV" in every tag; DV tags and
// the path records stay. prefix is "OPEN_" or "PID_".
std::string copy_tag(std::string_view tag, std::string_view prefix);
corvex::PlantDescription derive_copy(const corvex::PlantDescription& plant, std::string_view prefix);

// The copy's initial values: entries whose tag starts with "MV", renamed,
// then those starting with "CV", renamed, same values.
corvex::ValueMap derive_copy_ini(const corvex::ValueMap& process_ini, std::string_view prefix);

// The bookkeeping tags every model ends its tag set with: "RunCount"
// (integer 0) and the spares (0.0).
corvex::ValueMap bookkeeping_tags();
// "BK1" to "BK8": free for clients, never read by a plant.
std::vector<std::string> spare_tags();

// Merges the maps in order into one; a later map overwrites an equal tag.
corvex::ValueMap merge_all(std::initializer_list<corvex::ValueMap> maps);

}  // namespace varnok::frame
