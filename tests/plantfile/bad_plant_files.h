#pragma once

// Small plant files with one fault each, and where the reader must say it is.

#include <string>
#include <vector>

namespace varnok::plantfile {

// A plant with a place for controllers; cases add one line at line 5.
inline const std::string kLoopHead =
    "name: x\ninputs: {U: {initial: 0}, D: {initial: 0, random_walk: {amplitude: 1}}}\noutputs: {Y: "
    "{initial: "
    "0}}\ncontrollers:\n";

struct BadFile {
  const char* what;
  std::string text;
  int line;
  int column;
  const char* says;
};

// Each case is a small file with one fault; the message must point at it.
inline const std::vector<BadFile>& bad_plant_files() {
  static const std::vector<BadFile> files = {
      {"not YAML", "name: x\ninputs: {U: {initial: 0}\n", 3, 1, "not valid YAML"},
      {"not a mapping", "- a\n- b\n", 1, 1, "expected a mapping"},
      {"no name", "inputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 1, 1,
       "missing required key \"name\""},
      {"no outputs", "name: x\ninputs: {U: {initial: 0}}\n", 1, 1, "missing required key \"outputs\""},
      {"no initial", "name: x\ninputs:\n  U: {unit: m}\noutputs: {Y: {initial: 0}}\n", 3, 6,
       "missing required key \"initial\""},
      {"unknown top key", "name: x\nsampling_tme: 2\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n",
       2, 1, "unknown key \"sampling_tme\""},
      {"unknown input key", "name: x\ninputs:\n  U: {initial: 0, hi: 3}\noutputs: {Y: {initial: 0}}\n", 3, 19,
       "unknown key \"hi\""},
      {"unknown noise key",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, noise: {sd: 1}}\n", 4, 27,
       "unknown key \"sd\""},
      {"unknown path key",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y:\n    initial: 0\n    paths:\n      U: {gain: 1, "
       "tau: 2}\n",
       7, 20, "unknown key \"tau\""},
      {"control character in a key",
       "name: x\n\"sampling\\ntime\": 2\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 1,
       "unknown key \"sampling\\x0atime\""},
      {"long unit",
       "name: x\ninputs: {U: {initial: 0, unit: " + std::string(65, 'k') + "}}\noutputs: {Y: {initial: 0}}\n",
       2, 32, "unit is longer than 64 characters"},
      {"key twice", "name: x\nname: y\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 1,
       "given twice"},
      {"path from a non-input",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y:\n    initial: 0\n    paths:\n      V: {gain: 1}\n",
       7, 7, "\"V\" is not an input"},
      {"improper",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {num: [1, 0], den: "
       "[2]}}}\n",
       4, 36, "improper"},
      {"non-finite coefficient",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {num: [1], den: [.inf, "
       "1]}}}\n",
       4, 47, "must be finite"},
      {"nan gain",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {gain: .nan}}}\n", 4, 37,
       "must be finite"},
      {"all-zero den",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {num: [1], den: [0, "
       "0]}}}\n",
       4, 46, "all zeros"},
      {"leading-zero den",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {num: [1], den: [0, 2, "
       "1]}}}\n",
       4, 46, "starts with 0"},
      {"gain and num",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {gain: 1, num: [1]}}}\n",
       4, 30, "either"},
      {"negative time constant",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {gain: 1, time_constant: "
       "-3}}}\n",
       4, 55, "must not be negative"},
      {"negative dead time",
       "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y: {initial: 0, paths: {U: {gain: 1, dead_time: "
       "-0.5}}}\n",
       4, 51, "must not be negative"},
      {"zero sampling time",
       "name: x\nsampling_time: 0\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 16,
       "greater than 0"},
      {"infinite sampling time",
       "name: x\nsampling_time: .inf\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 16,
       "must be finite"},
      {"text for a number", "name: x\ninputs: {U: {initial: ten}}\noutputs: {Y: {initial: 0}}\n", 2, 23,
       "must be a number"},
      {"bad time unit",
       "name: x\ntime_unit: minutes\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 12,
       "s, min or h"},
      {"duplicate input",
       "name: x\ninputs:\n  U: {initial: 0}\n  U: {initial: 1}\noutputs: {Y: {initial: 0}}\n", 4, 3,
       "duplicate tag \"U\""},
      {"output named like an input", "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  U: {initial: 0}\n", 4,
       3, "duplicate tag \"U\""},
      {"tag of the plant's own", "name: x\ninputs: {RunCount: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2,
       10, "publishes itself"},
      {"open copy meets a tag",
       "name: x\nopen_loop_copy: true\ninputs: {U: {initial: 0}, OPEN_U: {initial: 0}}\noutputs: {Y: "
       "{initial: "
       "0}}\n",
       3, 10, "duplicate tag \"OPEN_U\""},
      {"empty tag", "name: x\ninputs: {\"\": {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 10,
       "empty tag name"},
      {"blank in a tag", "name: x\ninputs: {\"MV 1\": {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2, 10,
       "contains blanks"},
      {"dot in a tag", "name: x\ninputs: {U: {initial: 0}}\noutputs:\n  Y.PV: {initial: 0}\n", 4, 3,
       "contains \".\""},
      {"dot in the group", "name: x\ngroup: A.B\ninputs: {U: {initial: 0}}\noutputs: {Y: {initial: 0}}\n", 2,
       8, "contains \".\""},
      {"empty value", "name: x\ninputs:\n  U:\noutputs: {Y: {initial: 0}}\n", 3, 3, "must be a mapping"},
      {"low above high", "name: x\ninputs: {U: {initial: 0, low: 5, high: 1}}\noutputs: {Y: {initial: 0}}\n",
       2, 40, "high is below low"},
      {"controller on a non-output", kLoopHead + "  C: {measurement: U, output: U, kp: 1}\n", 5, 20,
       "\"U\" is not an output"},
      {"controller driving a non-input", kLoopHead + "  C: {measurement: Y, output: Y, kp: 1}\n", 5, 31,
       "\"Y\" is not an input"},
      {"controller driving a walk", kLoopHead + "  C: {measurement: Y, output: D, kp: 1}\n", 5, 31,
       "has a random walk"},
      {"two controllers on one input",
       kLoopHead + "  C: {measurement: Y, output: U, kp: 1}\n  E: {measurement: Y, output: U, kp: 2}\n", 6,
       31, "driven by another controller"},
      {"controller without gain", kLoopHead + "  C: {measurement: Y, output: U}\n", 5, 6,
       "missing required key \"kp\""},
      {"controller mode", kLoopHead + "  C: {measurement: Y, output: U, kp: 1, mode: on}\n", 5, 47,
       "auto or manual"},
      {"controller tag meets a tag",
       "name: x\ninputs: {U: {initial: 0}, C_SP: {initial: 0}}\noutputs: {Y: {initial: 0}}\ncontrollers:\n  "
       "C: "
       "{measurement: Y, output: U, kp: 1}\n",
       5, 3, "duplicate tag \"C_SP\""},
      {"controller limits", kLoopHead + "  C: {measurement: Y, output: U, kp: 1, low: 3, high: 2}\n", 5, 55,
       "high below low"},
  };
  return files;
}

}  // namespace varnok::plantfile
