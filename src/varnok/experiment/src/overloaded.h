#pragma once

namespace varnok::experiment {

// One lambda per kind of action, for std::visit.
template <class... Kinds>
struct Overloaded : Kinds... {
  using Kinds::operator()...;
};
template <class... Kinds>
Overloaded(Kinds...) -> Overloaded<Kinds...>;

}  // namespace varnok::experiment
