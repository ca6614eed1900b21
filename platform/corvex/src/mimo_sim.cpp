#include "corvex/mimo_sim.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "corvex/messages.h"
#include "state_space_path.h"

namespace corvex {

// Paths are flattened into contiguous arrays at construction so that run()
// is a few tight loops without allocation (apart from the returned map).
struct MIMOSim::Impl {
  struct Path {
    std::size_t order;
    std::size_t state;   // offset into x and the vector arrays
    std::size_t matrix;  // offset into phi
    std::size_t input;
    std::size_t lag;
    double d;
    bool fractional;
  };

  double ts = 1.0;
  std::vector<std::string> outputs;
  std::vector<std::string> inputs;
  std::vector<double> y0;  // per output

  // Per input: initial value, last finite value, whether a non-finite
  // episode is running, and a delay line of deviations: a ring buffer with
  // head at u[k], reaching back to u[k−lag−1] for the longest lag of the
  // input's paths.
  std::vector<double> u0;
  std::vector<double> last_finite;
  std::vector<char> holding;
  std::vector<std::size_t> ring_offset;
  std::vector<std::size_t> ring_size;
  std::vector<std::size_t> ring_head;
  std::vector<double> ring;
  std::vector<const Value*> read;

  std::vector<Path> paths;
  std::vector<std::size_t> first_path;  // per output, plus an end marker
  std::vector<double> phi, gamma0, gamma1, c, x, scratch;

  ValueMap result;

  std::size_t input_index(const std::string& tag, const ValueMap& initial_values) {
    for (std::size_t i = 0; i < inputs.size(); ++i)
      if (inputs[i] == tag) return i;
    const Value* init = initial_values.find(tag);
    if (init == nullptr) throw std::invalid_argument("MIMOSim: no initial value for input \"" + tag + "\"");
    if (!std::isfinite(init->to_double()))
      throw std::invalid_argument("MIMOSim: initial value of input \"" + tag +
                                  "\" is not finite: " + to_text(*init));
    inputs.push_back(tag);
    u0.push_back(init->to_double());
    ring_size.push_back(2);
    return inputs.size() - 1;
  }

  double delayed(std::size_t input, std::size_t back) const {
    const std::size_t size = ring_size[input];
    const std::size_t head = ring_head[input];
    return ring[ring_offset[input] + (head >= back ? head - back : head + size - back)];
  }
};

MIMOSim::MIMOSim(const PlantDescription& description, const ValueMap& initial_values, double Ts)
    : MIMOSim(description, initial_values, Options{Ts}) {}

MIMOSim::MIMOSim(const PlantDescription& description, const ValueMap& initial_values, Options options)
    : impl_(std::make_unique<Impl>()) {
  Impl& s = *impl_;
  detail::check_period(options.Ts, "MIMOSim");
  s.ts = options.Ts;

  std::size_t max_order = 0;
  for (const auto& [cv, paths] : description) {
    const Value* init = initial_values.find(cv);
    if (init == nullptr) throw std::invalid_argument("MIMOSim: no initial value for CV \"" + cv + "\"");
    if (!std::isfinite(init->to_double()))
      throw std::invalid_argument("MIMOSim: initial value of CV \"" + cv +
                                  "\" is not finite: " + to_text(*init));
    s.outputs.push_back(cv);
    s.y0.push_back(init->to_double());
    s.first_path.push_back(s.paths.size());

    for (const auto& [input, tf] : paths) {
      const std::string context = "MIMOSim: CV \"" + cv + "\", input \"" + input + "\"";
      if (tf.mode != "tf_s") throw std::invalid_argument(context + ": unsupported mode \"" + tf.mode + "\"");
      const detail::DiscretePath dp =
          detail::discretise_zoh(tf.num_s, tf.den_s, tf.integral, tf.iodelay_s, s.ts, context);
      const std::size_t in = s.input_index(input, initial_values);
      const auto n = static_cast<std::size_t>(dp.order());
      const auto lag = static_cast<std::size_t>(dp.lag);
      s.ring_size[in] = std::max(s.ring_size[in], lag + 2);
      s.paths.push_back({n, s.x.size(), s.phi.size(), in, lag, dp.d, dp.fractional});
      for (Eigen::Index i = 0; i < dp.order(); ++i) {
        for (Eigen::Index j = 0; j < dp.order(); ++j) s.phi.push_back(dp.phi(i, j));
        s.gamma0.push_back(dp.gamma0(i));
        s.gamma1.push_back(dp.gamma1(i));
        s.c.push_back(dp.c(i));
        s.x.push_back(0.0);
      }
      max_order = std::max(max_order, n);
    }
  }
  s.first_path.push_back(s.paths.size());
  s.scratch.assign(max_order, 0.0);

  std::size_t ring_total = 0;
  for (std::size_t size : s.ring_size) {
    s.ring_offset.push_back(ring_total);
    ring_total += size;
  }
  s.ring.assign(ring_total, 0.0);
  s.ring_head.assign(s.inputs.size(), 0);
  s.last_finite = s.u0;
  s.holding.assign(s.inputs.size(), 0);
  s.read.assign(s.inputs.size(), nullptr);
  for (std::size_t k = 0; k < s.outputs.size(); ++k) s.result.set(s.outputs[k], s.y0[k]);
}

MIMOSim::~MIMOSim() = default;
MIMOSim::MIMOSim(MIMOSim&&) noexcept = default;
MIMOSim& MIMOSim::operator=(MIMOSim&&) noexcept = default;

ValueMap MIMOSim::run(const ValueMap& u_Value_Dict, const ValueMap& v_Value_Dict) {
  Impl& s = *impl_;
  // Look every input up before touching any state, so a missing one leaves
  // the plant as it was.
  for (std::size_t i = 0; i < s.inputs.size(); ++i) {
    s.read[i] = u_Value_Dict.find(s.inputs[i]);
    if (s.read[i] == nullptr) throw MissingKey(s.inputs[i]);
  }

  for (std::size_t i = 0; i < s.inputs.size(); ++i) {
    double u = s.read[i]->to_double();
    if (std::isfinite(u)) {
      s.holding[i] = 0;
      s.last_finite[i] = u;
    } else {
      if (!s.holding[i]) {
        report("MIMOSim: input \"" + s.inputs[i] + "\" is not finite (" + to_text(u) +
               "); holding its last finite value " + to_text(s.last_finite[i]));
        s.holding[i] = 1;
      }
      u = s.last_finite[i];
    }
    s.ring_head[i] = s.ring_head[i] + 1 == s.ring_size[i] ? 0 : s.ring_head[i] + 1;
    s.ring[s.ring_offset[i] + s.ring_head[i]] = u - s.u0[i];
  }

  auto out = s.result.begin();
  for (std::size_t k = 0; k < s.outputs.size(); ++k, ++out) {
    double y = s.y0[k];
    for (std::size_t p = s.first_path[k]; p < s.first_path[k + 1]; ++p) {
      const Impl::Path& path = s.paths[p];
      const double u_now = s.delayed(path.input, path.lag);
      y += path.d * u_now;
      if (path.order == 0) continue;
      const double u_before = path.fractional ? s.delayed(path.input, path.lag + 1) : 0.0;
      double* x = s.x.data() + path.state;
      const double* phi = s.phi.data() + path.matrix;
      for (std::size_t i = 0; i < path.order; ++i) {
        double next = s.gamma0[path.state + i] * u_now + s.gamma1[path.state + i] * u_before;
        for (std::size_t j = 0; j < path.order; ++j) next += phi[i * path.order + j] * x[j];
        s.scratch[i] = next;
      }
      for (std::size_t i = 0; i < path.order; ++i) {
        x[i] = s.scratch[i];
        y += s.c[path.state + i] * x[i];
      }
    }
    if (!v_Value_Dict.empty())
      if (const Value* v = v_Value_Dict.find(s.outputs[k])) y += v->to_double();
    out->second = y;
  }
  return s.result;
}

const std::vector<std::string>& MIMOSim::output_tags() const noexcept {
  return impl_->outputs;
}
const std::vector<std::string>& MIMOSim::input_tags() const noexcept {
  return impl_->inputs;
}
double MIMOSim::sampling_time() const noexcept {
  return impl_->ts;
}

}  // namespace corvex
