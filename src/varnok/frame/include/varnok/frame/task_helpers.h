#pragma once

#include <cstdint>
#include <string_view>

#include "corvex/value.h"

namespace varnok::frame {

// The noise switch's value when it is above 0, else integer 0.
corvex::Value noise_level(const corvex::ValueMap& data, std::string_view switch_tag);

// True when the random-DV switch is strictly above 0.5.
bool random_dv_on(const corvex::ValueMap& data, std::string_view switch_tag);

// Index into a sequence of length n: floor modulo, so −1 gives n − 1.
std::size_t wrap_index(std::int64_t count, std::size_t n);

}  // namespace varnok::frame
