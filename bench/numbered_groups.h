#pragma once

// Groups of numbered Double tags (PREFIX<size>.T0, T1, ...) registered on an
// opcsim for the benchmarks that read them.

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "gateway_client.h"

namespace varnok::bench {

// prefix + number, built by appending (GCC 12 misreports "x" + std::string).
inline std::string numbered(const char* prefix, int n) {
  std::string s = prefix;
  s += std::to_string(n);
  return s;
}

// One group per size, named prefix + size, held for an hour.
inline void register_numbered_groups(int gateway_port, const char* prefix, std::initializer_list<int> sizes,
                                     const std::string& client) {
  using namespace std::chrono_literals;
  corvex::GatewayClient gateway("127.0.0.1", gateway_port, 5000ms);
  for (int size : sizes) {
    std::vector<corvex::TagValue> tags;
    for (int i = 0; i < size; ++i) tags.push_back({numbered("T", i), i * 0.5});
    gateway.register_group(numbered(prefix, size), tags, 60min, client);
  }
}

}  // namespace varnok::bench
