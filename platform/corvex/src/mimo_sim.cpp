#include "corvex/mimo_sim.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "corvex/messages.h"
#include "state_space_path.h"

namespace corvex {

namespace {

// The plant's state and arithmetic. Paths are flattened into contiguous
// arrays at construction, so a period is a few tight loops without
// allocation; kept out of the library's exported symbols, so its calls are
// direct and inlined. Every entry point of MIMOSim runs the same arithmetic
// in the same order, so they give the same bits.
//
// Each output is y0 plus its paths' terms (d·u, then c_i·x_i for each
// state) added in description order, as one running sum. When there are
// other paths than lags, a period has two steps: every path works out its
// terms on its own, so the processor can overlap them, then each output
// adds up its own.
struct Core {
  // The common path, apart: a first-order lag whose dead time is whole
  // periods, without feedthrough. Its step is
  //   x[k+1] = phi·x[k] + gamma0·u[k−lag],  term c·x[k+1]
  // which gives the bits the general form gives: there gamma1·u[k−lag−1]
  // is +0 and d·u is ±0; the first cannot change x (x is never −0), the
  // second cannot change a sum unless the sum is −0, which needs a y0 of −0
  // (such an output's lags take the general form).
  struct Lag {
    std::size_t input;
    std::ptrdiff_t lag;
    double gamma0, phi, c, x;
  };
  // Any other path.
  struct Path {
    std::size_t order;
    std::size_t coef;   // offset into coef: gamma0, gamma1, c, then phi row by row
    std::size_t state;  // offset into x
    std::size_t input;
    std::ptrdiff_t lag;
    double d;
    bool fractional;
    std::size_t term;  // its first term among those of such paths: d·u, then c_i·x_i
  };
  // Where an output's term is, until finish() makes it an index into terms.
  struct TermRef {
    bool lag;  // of lags, else of paths
    std::size_t index;
  };

  double ts = 1.0;
  std::vector<std::string> outputs;
  std::vector<std::string> inputs;
  std::vector<double> y0;  // per output

  // Per input: a delay line of deviations reaching back to u[k−lag−1] for
  // the longest lag of the input's paths. The line is a ring kept twice
  // over (slot h and h + size hold the same value), so u[k−b] is
  // now[input][−b] without wrapping.
  struct Input {
    double u0;
    double last_finite;
    bool holding;  // a non-finite episode is running
    std::size_t ring_offset;
    std::size_t ring_size;
    std::size_t ring_head;
  };
  std::vector<Input> in;
  std::vector<double> ring;
  std::vector<const double*> now;

  std::vector<Lag> lags;
  std::vector<Path> paths;
  std::vector<double> coef, x, scratch;
  std::size_t path_terms = 0;  // of the paths in `paths`
  // This period's terms: the lags' c·x, then those of the other paths.
  // Output k adds terms[sum_order[i]] for i from first_term[k] to
  // first_term[k + 1].
  std::vector<double> terms;
  std::vector<TermRef> refs;
  std::vector<std::size_t> sum_order;
  std::vector<std::size_t> first_term;
  bool in_order = false;  // every path a lag: sum_order is 0, 1, 2, ...

  std::size_t input_index(const std::string& tag, const ValueMap& initial_values) {
    for (std::size_t i = 0; i < inputs.size(); ++i)
      if (inputs[i] == tag) return i;
    const Value* init = initial_values.find(tag);
    if (init == nullptr) throw std::invalid_argument("MIMOSim: no initial value for input \"" + tag + "\"");
    if (!std::isfinite(init->to_double()))
      throw std::invalid_argument("MIMOSim: initial value of input \"" + tag +
                                  "\" is not finite: " + to_text(*init));
    inputs.push_back(tag);
    in.push_back({init->to_double(), init->to_double(), false, 0, 2, 0});
    return inputs.size() - 1;
  }

  // A path of the output being added, whose initial value is y0.back().
  void add_path(const detail::DiscretePath& dp, std::size_t input) {
    const auto n = static_cast<std::size_t>(dp.order());
    in[input].ring_size = std::max(in[input].ring_size, static_cast<std::size_t>(dp.lag) + 2);
    if (n == 1 && !dp.fractional && dp.d == 0.0 && !std::signbit(y0.back())) {
      refs.push_back({true, lags.size()});
      lags.push_back({input, dp.lag, dp.gamma0(0), dp.phi(0, 0), dp.c(0), 0.0});
      return;
    }
    for (std::size_t i = 0; i <= n; ++i) refs.push_back({false, path_terms + i});
    paths.push_back({n, coef.size(), x.size(), input, dp.lag, dp.d, dp.fractional, path_terms});
    path_terms += 1 + n;
    for (const Eigen::VectorXd* part : {&dp.gamma0, &dp.gamma1})
      for (Eigen::Index i = 0; i < dp.order(); ++i) coef.push_back((*part)(i));
    for (Eigen::Index i = 0; i < dp.order(); ++i) coef.push_back(dp.c(i));
    for (Eigen::Index i = 0; i < dp.order(); ++i)
      for (Eigen::Index j = 0; j < dp.order(); ++j) coef.push_back(dp.phi(i, j));
    x.resize(x.size() + n, 0.0);
    scratch.resize(std::max(scratch.size(), n), 0.0);
  }

  void finish() {
    first_term.push_back(refs.size());
    for (const TermRef& ref : refs) sum_order.push_back(ref.lag ? ref.index : lags.size() + ref.index);
    in_order = paths.empty();
    terms.assign(lags.size() + path_terms, 0.0);
    std::size_t ring_total = 0;
    for (Input& input : in) {
      input.ring_offset = ring_total;
      ring_total += 2 * input.ring_size;
    }
    ring.assign(ring_total, 0.0);
    now.assign(inputs.size(), nullptr);
  }

  // Takes this period's inputs into the delay lines.
  void push(const double* u_in) {
    // Locals, as a store through a pointer could otherwise be taken to
    // change the vectors themselves.
    Input* const inputs_of = in.data();
    double* const lines = ring.data();
    const double** const heads = now.data();
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n; ++i) {
      Input& input = inputs_of[i];
      double u = u_in[i];
      if (std::isfinite(u)) {
        input.holding = false;
        input.last_finite = u;
      } else {
        if (!input.holding) {
          report("MIMOSim: input \"" + inputs[i] + "\" is not finite (" + to_text(u) +
                 "); holding its last finite value " + to_text(input.last_finite));
          input.holding = true;
        }
        u = input.last_finite;
      }
      const std::size_t size = input.ring_size;
      const std::size_t head = input.ring_head + 1 == size ? 0 : input.ring_head + 1;
      input.ring_head = head;
      double* line = lines + input.ring_offset;
      line[head] = line[head + size] = u - input.u0;
      heads[i] = line + head + size;
    }
  }

  // Advances every path and writes the outputs, plus v[k] when v is given.
  void advance(double* y_out, const double* v) {
    if (in_order) {
      // Every path a lag, in description order: each output's sum is made
      // as its lags are stepped, one output after another.
      Lag* lag = lags.data();
      for (std::size_t k = 0; k < outputs.size(); ++k) {
        double y = y0[k];
        for (Lag* const end = lags.data() + first_term[k + 1]; lag != end; ++lag) {
          double next = lag->gamma0 * now[lag->input][-lag->lag];
          next += lag->phi * lag->x;
          lag->x = next;
          y += lag->c * next;
        }
        if (v != nullptr) y += v[k];
        y_out[k] = y;
      }
      return;
    }
    double* t = terms.data();
    for (Lag& lag : lags) {
      double next = lag.gamma0 * now[lag.input][-lag.lag];
      next += lag.phi * lag.x;
      lag.x = next;
      *t++ = lag.c * next;
    }
    for (const Path& path : paths) {
      const double* u = now[path.input] - path.lag;
      const double u_now = u[0];
      t[path.term] = path.d * u_now;
      if (path.order == 0) continue;
      const double u_before = path.fractional ? u[-1] : 0.0;
      const double* g0 = coef.data() + path.coef;
      const double* g1 = g0 + path.order;
      const double* c = g1 + path.order;
      const double* phi = c + path.order;
      double* state = x.data() + path.state;
      for (std::size_t i = 0; i < path.order; ++i) {
        double next = g0[i] * u_now + g1[i] * u_before;
        for (std::size_t j = 0; j < path.order; ++j) next += phi[i * path.order + j] * state[j];
        scratch[i] = next;
      }
      for (std::size_t i = 0; i < path.order; ++i) {
        state[i] = scratch[i];
        t[path.term + 1 + i] = c[i] * state[i];
      }
    }
    const double* all = terms.data();
    const std::size_t* order = sum_order.data();
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      double y = y0[k];
      for (std::size_t i = first_term[k]; i < first_term[k + 1]; ++i) y += all[order[i]];
      if (v != nullptr) y += v[k];
      y_out[k] = y;
    }
  }
};

}  // namespace

struct MIMOSim::Impl : Core {
  std::vector<double> u_buffer, y_buffer;  // run() and run_at() on maps
  ValueMap result;
};

MIMOSim::MIMOSim(const PlantDescription& description, const ValueMap& initial_values, double Ts)
    : MIMOSim(description, initial_values, Options{Ts}) {}

MIMOSim::MIMOSim(const PlantDescription& description, const ValueMap& initial_values, Options options)
    : impl_(std::make_unique<Impl>()) {
  Impl& s = *impl_;
  detail::check_period(options.Ts, "MIMOSim");
  s.ts = options.Ts;

  for (const auto& [cv, paths] : description) {
    const Value* init = initial_values.find(cv);
    if (init == nullptr) throw std::invalid_argument("MIMOSim: no initial value for CV \"" + cv + "\"");
    if (!std::isfinite(init->to_double()))
      throw std::invalid_argument("MIMOSim: initial value of CV \"" + cv +
                                  "\" is not finite: " + to_text(*init));
    s.outputs.push_back(cv);
    s.y0.push_back(init->to_double());
    s.first_term.push_back(s.refs.size());

    for (const auto& [input, tf] : paths) {
      const std::string context = "MIMOSim: CV \"" + cv + "\", input \"" + input + "\"";
      if (tf.mode != "tf_s") throw std::invalid_argument(context + ": unsupported mode \"" + tf.mode + "\"");
      const detail::DiscretePath dp =
          detail::discretise_zoh(tf.num_s, tf.den_s, tf.integral, tf.iodelay_s, s.ts, context);
      s.add_path(dp, s.input_index(input, initial_values));
    }
  }
  s.finish();
  s.u_buffer.assign(s.inputs.size(), 0.0);
  s.y_buffer.assign(s.outputs.size(), 0.0);
  for (std::size_t k = 0; k < s.outputs.size(); ++k) s.result.set(s.outputs[k], s.y0[k]);
}

MIMOSim::~MIMOSim() = default;
MIMOSim::MIMOSim(MIMOSim&&) noexcept = default;
MIMOSim& MIMOSim::operator=(MIMOSim&&) noexcept = default;

ValueMap MIMOSim::run(const ValueMap& u_Value_Dict, const ValueMap& v_Value_Dict) {
  Impl& s = *impl_;
  // Read every input before touching any state, so a missing one leaves
  // the plant as it was.
  for (std::size_t i = 0; i < s.inputs.size(); ++i) {
    const Value* u = u_Value_Dict.find(s.inputs[i]);
    if (u == nullptr) throw MissingKey(s.inputs[i]);
    s.u_buffer[i] = u->to_double();
  }
  s.push(s.u_buffer.data());
  s.advance(s.y_buffer.data(), nullptr);
  auto out = s.result.begin();
  for (std::size_t k = 0; k < s.outputs.size(); ++k, ++out) {
    double y = s.y_buffer[k];
    if (!v_Value_Dict.empty())
      if (const Value* v = v_Value_Dict.find(s.outputs[k])) y += v->to_double();
    out->second = y;
  }
  return s.result;
}

void MIMOSim::run(std::span<const double> u, std::span<double> y, std::span<const double> v) {
  Impl& s = *impl_;
  if (u.size() != s.inputs.size() || y.size() != s.outputs.size() || (!v.empty() && v.size() != y.size()))
    throw std::invalid_argument("MIMOSim::run: " + std::to_string(u.size()) + " inputs, " +
                                std::to_string(y.size()) + " outputs and " + std::to_string(v.size()) +
                                " noise values for a plant of " + std::to_string(s.inputs.size()) +
                                " inputs and " + std::to_string(s.outputs.size()) + " outputs");
  s.push(u.data());
  s.advance(y.data(), v.empty() ? nullptr : v.data());
}

MIMOSim::Places MIMOSim::places_in(const ValueMap& data) const {
  Places places;
  for (const auto& tag : impl_->inputs) places.inputs.push_back(data.index_of(tag));
  for (const auto& tag : impl_->outputs) places.outputs.push_back(data.index_of(tag));
  return places;
}

void MIMOSim::run_at(ValueMap& data, const Places& places, std::span<const double> v) {
  Impl& s = *impl_;
  if (places.inputs.size() != s.inputs.size() || places.outputs.size() != s.outputs.size())
    throw std::invalid_argument("MIMOSim::run_at: places of another plant");
  const auto items = data.begin();
  const std::size_t size = data.size();
  const auto at = [&](std::size_t place) -> Value& {
    if (place >= size)
      throw std::out_of_range("MIMOSim::run_at: place " + std::to_string(place) + " of a map of " +
                              std::to_string(size) + " tags");
    return items[static_cast<std::ptrdiff_t>(place)].second;
  };
  if (!v.empty() && v.size() != s.outputs.size())
    throw std::invalid_argument("MIMOSim::run_at: " + std::to_string(v.size()) + " noise values for " +
                                std::to_string(s.outputs.size()) + " outputs");
  for (std::size_t i = 0; i < s.inputs.size(); ++i) s.u_buffer[i] = at(places.inputs[i]).to_double();
  s.push(s.u_buffer.data());
  s.advance(s.y_buffer.data(), v.empty() ? nullptr : v.data());
  for (std::size_t k = 0; k < s.outputs.size(); ++k) at(places.outputs[k]) = s.y_buffer[k];
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
