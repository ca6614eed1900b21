#pragma once

// The plant a plant file describes, run like the built-in plants: its
// inputs are settings a client writes, its outputs come from MIMOSim.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "corvex/mimo_sim.h"
#include "corvex/pid.h"
#include "varnok/frame/plant_simulation.h"
#include "varnok/plantfile/plant_file.h"

namespace varnok::plantfile {

inline constexpr const char* kNoiseSwitch = "SET_CV_STD";
inline constexpr const char* kRandomWalkSwitch = "SET_DV_RANDOM";
inline constexpr const char* kOpenPrefix = "OPEN_";

class FilePlant final : public frame::PlantSimulation {
 public:
  // Length of the noise and walk sequences, which then repeat.
  static constexpr std::size_t kSequenceLength = 100000;

  // The tag set, in publishing order: inputs, outputs, the controllers'
  // tunables, with open_loop_copy
  // the OPEN_ inputs and OPEN_ outputs, RunCount, and with noise or walks in
  // the file SET_CV_STD and SET_DV_RANDOM (both 1: on). Inputs with a random
  // walk are disturbances: both copies see the same one, so they have no
  // OPEN_ copy. The period lasts plant.period_seconds() of wall-clock time.
  explicit FilePlant(const PlantFile& plant);

  // The tag set with initial values, and what clients may write to it.
  static corvex::ValueMap initial_tags(const PlantFile& plant);
  static frame::SettingRules setting_rules(const PlantFile& plant);

  // The file's units, ranges and descriptions, and words for the tags the
  // plant adds.
  corvex::TagInfoList tag_info() const override { return info_; }

 private:
  void step() override;

  // Tags are reached by their places in the live map, found at start.
  struct Noisy {
    std::size_t output;  // in the file's (and MIMOSim's) output order
    std::vector<double> sequence;
  };
  struct Loop {
    corvex::PID pid;
    double n;
    // The controller's tags, in kControllerTunables order.
    std::vector<std::size_t> tags;
    std::size_t measurement;
    std::size_t output;
  };
  struct Walk {
    std::size_t place;
    std::vector<double> sequence;
  };

  bool switches_ = false;
  corvex::MIMOSim plant_;
  std::vector<corvex::MIMOSim> open_;  // the open-loop copy, when asked for
  corvex::MIMOSim::Places plant_places_;
  std::vector<corvex::MIMOSim::Places> open_places_;
  std::vector<Noisy> noisy_;
  std::vector<Walk> walks_;
  std::vector<Loop> loops_;
  corvex::TagInfoList info_;
  std::size_t noise_switch_ = 0, walk_switch_ = 0, run_count_ = 0;
  // This period's noise of every output, the same for its copy.
  std::vector<double> noise_;
};

// The plant of a file read by read_plant_file. The reader refuses what
// MIMOSim would; should something slip through, it is still the file's
// fault: SetupError naming the file, never a run-time failure.
std::shared_ptr<FilePlant> build_file_plant(const PlantFile& plant);

}  // namespace varnok::plantfile
