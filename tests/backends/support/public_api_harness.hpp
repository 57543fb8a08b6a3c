// Shared by the backend tests that go through the public interface: the
// caller's typed data on the device (USM or a buffer), the descriptor type
// of a scalar type, the view of real data as complex and back, one compute
// call of either direction and placement, and a caller's workspace handed
// to a committed descriptor.
#pragma once

#include <complex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/backends/support/record_runs.hpp"
#include "ulmara/qez/dft.hpp"

namespace backend_test {

namespace qd = ulmara::qez::dft;

template <class T>
constexpr qd::precision precision_of() {
  return sizeof(T) == sizeof(float) ? qd::precision::SINGLE : qd::precision::DOUBLE;
}
template <class T>
using real_descriptor = qd::descriptor<precision_of<T>(), qd::domain::REAL>;
template <class T>
using complex_descriptor = qd::descriptor<precision_of<T>(), qd::domain::COMPLEX>;

// Interleaved reals as complex values, and back.
template <class T>
std::vector<std::complex<T>> as_complex(const std::vector<T>& v) {
  std::vector<std::complex<T>> out(v.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = {v[2 * i], v[2 * i + 1]};
  return out;
}
template <class T>
std::vector<T> as_real(const std::vector<std::complex<T>>& v) {
  std::vector<T> out;
  out.reserve(2 * v.size());
  for (const std::complex<T>& c : v) {
    out.push_back(c.real());
    out.push_back(c.imag());
  }
  return out;
}

// One call of the public compute function of the direction, in place (on
// `in`) or out of place; USM calls are waited for.
template <bool forward, class Descriptor, class I, class O>
void run_public_compute(Descriptor& d, const device_array<I>& in, const device_array<O>& out, container kind,
                        bool in_place) {
  const auto call = [&](auto&&... a) {
    if constexpr (forward)
      return qd::compute_forward(d, std::forward<decltype(a)>(a)...);
    else
      return qd::compute_backward(d, std::forward<decltype(a)>(a)...);
  };
  if (kind == container::usm) {
    sycl::event done = in_place ? call(in.usm()) : call(in.usm(), out.usm());
    done.wait();
  } else if (in_place) {
    call(in.buffer());
  } else {
    call(in.buffer(), out.buffer());
  }
}

// What a test sets on a descriptor before its commit.
struct public_settings {
  bool in_place = false;
  std::int64_t batch = 1;
  // Offset first, then the strides slowest first; empty: left unset.
  std::vector<std::int64_t> fwd_strides, bwd_strides;
  std::int64_t fwd_distance = 0, bwd_distance = 0;
  double fwd_scale = 1.0, bwd_scale = 1.0;
  workspace ws = workspace::internal;
};

// Sets placement, count, strides, distances, scales (in the descriptor's
// scalar type T) and, for a caller's workspace, the external placement.
template <class T, class Descriptor>
void apply_settings(Descriptor& d, const public_settings& s) {
  d.set_value(qd::config_param::PLACEMENT, s.in_place ? qd::config_value::IN_PLACE : qd::config_value::OUT_OF_PLACE);
  d.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, s.batch);
  if (!s.fwd_strides.empty()) d.set_value(qd::config_param::FWD_STRIDES, s.fwd_strides);
  if (!s.bwd_strides.empty()) d.set_value(qd::config_param::BWD_STRIDES, s.bwd_strides);
  d.set_value(qd::config_param::FWD_DISTANCE, s.fwd_distance);
  d.set_value(qd::config_param::BWD_DISTANCE, s.bwd_distance);
  d.set_value(qd::config_param::FORWARD_SCALE, static_cast<T>(s.fwd_scale));
  d.set_value(qd::config_param::BACKWARD_SCALE, static_cast<T>(s.bwd_scale));
  if (s.ws != workspace::internal)
    d.set_value(qd::config_param::WORKSPACE_PLACEMENT, qd::config_value::WORKSPACE_EXTERNAL);
}

// The caller's workspace of a committed descriptor, in the descriptor's
// scalar type; declared before the descriptor, it is freed after it.
template <class T>
class public_workspace {
 public:
  public_workspace() = default;
  public_workspace(const public_workspace&) = delete;
  public_workspace& operator=(const public_workspace&) = delete;
  ~public_workspace() {
    if (usm_ != nullptr) sycl::free(usm_, gpu_test_queue());
  }
  // Allocates what `record` asked for (plus `spare` elements) and hands it
  // to `d`; nothing for an internal workspace.
  template <class Descriptor>
  void attach(Descriptor& d, const DFTI_DESCRIPTOR* record, workspace kind, size_t spare = 0) {
    if (kind == workspace::internal) return;
    const std::uint64_t bytes = record->workspace_bytes[0] + record->workspace_bytes[1];
    const size_t count = static_cast<size_t>((bytes + sizeof(T) - 1) / sizeof(T)) + spare;
    if (kind == workspace::external_usm) {
      usm_ = sycl::malloc_device<T>(count, gpu_test_queue());
      d.set_workspace(usm_);
    } else {
      buffer_ = std::make_unique<sycl::buffer<T, 1>>(sycl::range<1>(count));
      d.set_workspace(*buffer_);
    }
  }

 private:
  T* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<T, 1>> buffer_;
};

// One precision's side of a committed public-interface plan: its record and
// runs of either direction measured against the reference.
class typed_public_plan {
 public:
  virtual ~typed_public_plan() = default;
  virtual DFTI_DESCRIPTOR* record() const = 0;
  virtual bounded_run forward(container c) const = 0;
  virtual bounded_run backward(container c) const = 0;
};

// A committed descriptor of one configuration, in the precision it names:
// `Typed<double>` or `Typed<float>` built from the configuration (and any
// further arguments).
class committed_public_plan {
 public:
  template <template <class> class Typed, class Config, class... Extra>
  static committed_public_plan of(bool double_precision, const Config& c, Extra... extra) {
    if (double_precision) return committed_public_plan(std::make_unique<Typed<double>>(c, extra...));
    return committed_public_plan(std::make_unique<Typed<float>>(c, extra...));
  }

  DFTI_DESCRIPTOR* record() const { return plan_->record(); }
  // Bytes the commit asked for (part 0 and part 1).
  std::uint64_t workspace_bytes() const { return record()->workspace_bytes[0] + record()->workspace_bytes[1]; }
  bounded_run forward(container c) const { return plan_->forward(c); }
  bounded_run backward(container c) const { return plan_->backward(c); }

 private:
  explicit committed_public_plan(std::unique_ptr<typed_public_plan> plan) : plan_(std::move(plan)) {}
  std::unique_ptr<typed_public_plan> plan_;
};

// Both directions of a committed plan (plan.forward(container) and
// plan.backward(container) give bounded runs) within their bounds, on every
// container the front end pairs with the workspace `ws`: a caller's
// workspace goes with data of its own kind.
template <class Plan>
void expect_public_runs_within_bounds(const Plan& plan, workspace ws) {
  for (container k : both_containers) {
    if ((ws == workspace::external_usm && k != container::usm) ||
        (ws == workspace::external_buffer && k != container::buffer))
      continue;
    const std::string form = is_usm(k) ? "usm" : "buffer";
    EXPECT_WITHIN_BOUNDS(plan.forward(k), "forward " + form);
    EXPECT_WITHIN_BOUNDS(plan.backward(k), "backward " + form);
  }
}

}  // namespace backend_test
