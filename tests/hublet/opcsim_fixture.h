#pragma once

// One opcsim for all tests of a program, with its groups registered through
// the gateway: S1 (30 tags of known values, never written by tests), W1
// (tags the write tests change) and T2 (the two-thread test). A restart
// registers them again with their first values.

#include <chrono>
#include <string>
#include <vector>

#include "gateway_client.h"
#include "opcsim_process.h"

namespace hublet::testing {

struct Tag {
  std::string name;
  double value;
};

// S1: names like the plant models use (dotted ones too) and values whose
// text forms differ in interesting ways.
inline const std::vector<Tag>& s1_tags() {
  static const std::vector<Tag> tags = {
      {"MV1", 50.0},
      {"MV2", 0.1},
      {"DV1", -2.5},
      {"CV1", 1e-7},
      {"CV2", 1e300},
      {"CV3", 29.0},
      {"SP1", 0.0},
      {"SP2", -1e-5},
      {"PID_CV1", 12.25},
      {"OPEN_CV1", 1e16},
      {"CV1std_10min", 0.30000000000000004},
      {"RunCount", 7.0},
      {"BK1", 1.0},
      {"BK2", 2.0},
      {"BK3", 3.0},
      {"BK4", 4.0},
      {"BK5", 5.0},
      {"BK6", 6.0},
      {"BK7", 7.0},
      {"BK8", 8.0},
      {"FIC101.PV", 101.5},
      {"Kp", 0.8},
      {"Ti", 60.0},
      {"Td", 0.0001},
      {"NoiseSwitch", 1.0},
      {"RandomDV", -0.0},
      {"MV1_HI", 100.0},
      {"MV1_LO", -100.0},
      {"CV1_A", 123456789.125},
      {"CV1_B", 2.2250738585072014e-308},
  };
  return tags;
}

// T2's constant tags: C0 ... C28.
inline std::string constant_name(int i) {
  std::string name = "C";
  name += std::to_string(i);
  return name;
}

struct SharedOpcsim {
  SharedOpcsim() { register_groups(); }

  // Kill, then start again on the same ports with the same groups.
  void kill() { process.kill_now(); }
  void restart() {
    process.start();
    register_groups();
  }
  std::string endpoint(const std::string& host = "localhost") const {
    return "opc.tcp://" + host + ":" + std::to_string(process.opcua_port());
  }

  varnok::testing::OpcsimProcess process;

 private:
  void register_groups() {
    corvex::GatewayClient gateway("127.0.0.1", process.gateway_port(), std::chrono::milliseconds(5000));
    const auto register_group = [&](const std::string& group, const std::vector<Tag>& tags) {
      std::vector<corvex::TagValue> values;
      for (const auto& t : tags) values.push_back({t.name, t.value});
      gateway.register_group(group, values, std::chrono::minutes(10), "hublet-test");
    };
    register_group("S1", s1_tags());
    register_group("W1", {{"A", 0.0}, {"B", 0.0}, {"C", 0.0}});
    std::vector<Tag> t2;
    for (int i = 0; i < 29; ++i) t2.push_back({constant_name(i), i * 1.5});
    t2.push_back({"W", 0.0});
    register_group("T2", t2);
  }
};

inline SharedOpcsim& shared_opcsim() {
  static SharedOpcsim instance;
  return instance;
}

}  // namespace hublet::testing
