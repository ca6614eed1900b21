#pragma once

// Small experiment files with one fault each, and where the reader must say
// it is. Every tag they name is one TrainingSISO has, so that varnok-batch
// stops at the fault itself.

#include <string>
#include <vector>

namespace varnok::experiment {

// Ten periods recording MV1; cases add their actions from line 4.
inline const std::string kHead = "periods: 10\nrecord: [MV1]\nactions:\n";

struct BadFile {
  const char* what;
  std::string text;
  int line;
  int column;
  const char* says;
};

inline const std::vector<BadFile>& bad_experiment_files() {
  static const std::vector<BadFile> files = {
      {"not YAML", "periods: 10\nrecord: [MV1\n", 3, 1, "not valid YAML"},
      {"not a mapping", "- 1\n", 1, 1, "expected a mapping"},
      {"unknown top key", "periods: 10\nrecrod: [MV1]\n", 2, 1, "unknown key \"recrod\""},
      {"no periods", "record: [MV1]\n", 1, 1, "missing required key \"periods\""},
      {"negative periods", "periods: -5\nrecord: [MV1]\n", 1, 10,
       "periods must be a whole number of at least 1"},
      {"zero periods", "periods: 0\nrecord: [MV1]\n", 1, 10, "at least 1, not \"0\""},
      {"fractional periods", "periods: 1.5\nrecord: [MV1]\n", 1, 10, "at least 1, not \"1.5\""},
      {"text periods", "periods: '10'\nrecord: [MV1]\n", 1, 10, "at least 1"},
      {"empty record", "periods: 10\nrecord: []\n", 2, 9, "record must be a list"},
      {"recorded twice", "periods: 10\nrecord: [MV1, CV1, MV1]\n", 2, 20, "\"MV1\" is recorded twice"},
      {"actions not a list", kHead.substr(0, 26) + "actions: {at: 1}\n", 3, 10, "actions must be a list"},
      {"unknown action", kHead + "  - {at: 2, pulse: {MV1: 1}}\n", 4, 13, "unknown action \"pulse\""},
      {"two kinds", kHead + "  - {at: 2, set: {MV1: 1}, step: {MV1: 1}}\n", 4, 28, "not both set and step"},
      {"no kind", kHead + "  - {at: 2}\n", 4, 5, "needs one of set, step, ramp or prbs"},
      {"no at", kHead + "  - set: {MV1: 1}\n", 4, 5, "missing required key \"at\""},
      {"negative at", kHead + "  - {at: -3, set: {MV1: 1}}\n", 4, 10,
       "at must be a whole number of at least 1"},
      {"zero at", kHead + "  - {at: 0, set: {MV1: 1}}\n", 4, 10, "at least 1, not \"0\""},
      {"fractional at", kHead + "  - {at: 2.5, set: {MV1: 1}}\n", 4, 10, "at least 1, not \"2.5\""},
      {"set past the end", kHead + "  - {at: 11, set: {MV1: 1}}\n", 4, 10,
       "period 11 is after the last (10)"},
      {"ramp past the end", kHead + "  - {at: 8, ramp: {tag: MV1, to: 35, periods: 4}}\n", 4, 47,
       "the ramp ends in period 11, after the last (10)"},
      {"PRBS restore past the end",
       kHead + "  - at: 1\n    prbs: {tag: MV1, amplitude: 1, min_hold: 2, periods: 10}\n", 5, 58,
       "the prbs ends in period 11"},
      {"PRBS not a multiple of min_hold",
       kHead + "  - at: 1\n    prbs: {tag: MV1, amplitude: 1, min_hold: 2, periods: 7}\n", 5, 58,
       "periods (7) must be a multiple of min_hold (2)"},
      {"PRBS without amplitude",
       kHead + "  - at: 1\n    prbs: {tag: MV1, amplitude: 0, min_hold: 2, periods: 4}\n", 5, 33,
       "amplitude must be greater than 0"},
      {"negative seed",
       kHead + "  - at: 1\n    prbs: {tag: MV1, amplitude: 1, min_hold: 1, periods: 2, seed: -1}\n", 5, 67,
       "seed must be a whole number of at least 0"},
      {"unknown ramp key", kHead + "  - {at: 1, ramp: {tag: MV1, to: 3, periods: 2, slope: 1}}\n", 4, 49,
       "unknown key \"slope\""},
      {"empty set", kHead + "  - {at: 1, set: {}}\n", 4, 18, "set must map tags to numbers"},
      {"a tag twice in one step", kHead + "  - {at: 1, step: {MV1: 1, MV1: 2}}\n", 4, 28,
       "\"MV1\" given twice"},
      {"value not a number", kHead + "  - {at: 1, set: {MV1: abc}}\n", 4, 24,
       "MV1 must be a number, not \"abc\""},
      {"value not finite", kHead + "  - {at: 1, step: {MV1: .inf}}\n", 4, 25, "MV1 must be finite"},
      {"ramp over a set",
       kHead + "  - {at: 5, set: {MV1: 30}}\n  - {at: 3, ramp: {tag: MV1, to: 35, periods: 4}}\n", 5, 25,
       "MV1 is also written by the action at line 4 in period 5"},
      {"two PRBS",
       kHead + "  - {at: 2, prbs: {tag: MV1, amplitude: 1, min_hold: 2, periods: 4}}\n"
               "  - {at: 6, prbs: {tag: MV1, amplitude: 1, min_hold: 2, periods: 4}}\n",
       5, 25, "MV1 is also written by the action at line 4 in periods 2..6"},
  };
  return files;
}

}  // namespace varnok::experiment
