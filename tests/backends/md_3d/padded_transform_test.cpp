// The padded 3D backend on Harix computes its smallest cube, 512^3, in both
// precisions and both directions with scales other than 1, in place with a
// caller's workspace: single precision on buffers (the temporary a sub-buffer
// of the workspace), double precision on USM. Every value is checked against
// FFTW in double precision (a long-double reference of 2^27 points would take
// too long) with the library's bounds, and the guard zones around the data
// must keep their pattern. In place keeps the memory of a case near 6 GB
// (data, temporary and reference).
#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "tests/backends/md_3d/c2c_3d_case.hpp"
#include "tests/backends/support/guard_zones.hpp"
#include "tests/backends/support/public_api_harness.hpp"
#include "ulmara/qez/dft.hpp"

namespace md_3d_test {
namespace {

namespace qd = ulmara::qez::dft;
using backend_test::guard_elements;
using backend_test::guard_pattern;

constexpr std::int64_t n = 512;  // the smallest cube the backend takes
constexpr std::int64_t volume = n * n * n;
constexpr double forward_scale = 0.3;
constexpr double backward_scale = 3.0 / double(volume);

// FFTW's array of one cube, freed at scope end.
struct fftw_cube {
  fftw_complex* p = fftw_alloc_complex(static_cast<size_t>(volume));
  ~fftw_cube() { fftw_free(p); }
};

// Deterministic values in [-1, 1) from a linear congruential generator,
// value k of the stream of `seed`.
class congruential {
 public:
  explicit congruential(std::uint64_t seed) : state_(seed) {}
  double next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state_ >> 11) / 4503599627370496.0 - 1.0;
  }

 private:
  std::uint64_t state_;
};

// One cube of the caller's data on the device with its guard zones: shared
// USM (a leading and a trailing zone, the pointer past the leading one) or
// a buffer (a trailing zone). The host writes and reads it in place, so no
// second copy of a cube is made.
template <class T>
class guarded_cube {
 public:
  using value = std::complex<T>;
  guarded_cube(container kind, sycl::queue& q) : kind_(kind), queue_(q) {
    const size_t total = static_cast<size_t>(lead() + volume + guard_elements);
    if (backend_test::is_usm(kind_))
      usm_ = sycl::malloc_shared<value>(total, queue_);
    else
      buffer_ = std::make_unique<sycl::buffer<value, 1>>(sycl::range<1>(total));
  }
  ~guarded_cube() {
    if (usm_ != nullptr) sycl::free(usm_, queue_);
  }
  guarded_cube(const guarded_cube&) = delete;
  guarded_cube& operator=(const guarded_cube&) = delete;

  T* usm() const { return reinterpret_cast<T*>(usm_ + lead()); }
  sycl::buffer<T, 1> buffer() const {
    return buffer_->template reinterpret<T, 1>(sycl::range<1>(2 * buffer_->size()));
  }
  // Calls `f(whole array)` on the host with the device's work on it done.
  template <class F>
  void on_host(const F& f) const {
    if (usm_ != nullptr) {
      queue_.wait();
      f(usm_);
      return;
    }
    sycl::host_accessor<value, 1> a(*buffer_);
    f(&a[0]);
  }
  // The cube filled with the stream of `seed` (the same values as `into`
  // gets in double precision) and the guard zones with the pattern.
  void fill(std::uint64_t seed, fftw_complex* into) const {
    on_host([&](value* all) {
      std::fill(all, all + lead(), guard_pattern<T>());
      std::fill(all + lead() + volume, all + lead() + volume + guard_elements, guard_pattern<T>());
      congruential g(seed);
      for (std::int64_t k = 0; k < volume; ++k) {
        const value v(static_cast<T>(g.next()), static_cast<T>(g.next()));
        all[lead() + k] = v;
        into[k][0] = v.real();
        into[k][1] = v.imag();
      }
    });
  }
  // Guard positions that no longer hold the pattern.
  std::int64_t changed_guards() const {
    std::int64_t changed = 0;
    on_host([&](const value* all) {
      changed += std::count_if(all, all + lead(), [](const value& v) { return v != guard_pattern<T>(); });
      const value* tail = all + lead() + volume;
      changed += std::count_if(tail, tail + guard_elements, [](const value& v) { return v != guard_pattern<T>(); });
    });
    return changed;
  }
  // The cube against `reference` times `scale`.
  qez_test::accuracy error_against(const fftw_complex* reference, long double scale) const {
    long double err2 = 0, ref2 = 0, err_max = 0, ref_max = 0;
    on_host([&](const value* all) {
      for (std::int64_t k = 0; k < volume; ++k) {
        const std::complex<long double> want(scale * reference[k][0], scale * reference[k][1]);
        const value got = all[lead() + k];
        const long double e = std::abs(std::complex<long double>(got.real(), got.imag()) - want);
        const long double r = std::abs(want);
        err2 += e * e;
        ref2 += r * r;
        err_max = std::max(err_max, e);
        ref_max = std::max(ref_max, r);
      }
    });
    return {std::sqrt(err2 / ref2), err_max / ref_max};
  }

 private:
  std::int64_t lead() const { return backend_test::is_usm(kind_) ? guard_elements : 0; }
  container kind_;
  sycl::queue& queue_;
  value* usm_ = nullptr;
  std::unique_ptr<sycl::buffer<value, 1>> buffer_;
};

// FFTW's unscaled transform of the cube in place.
void reference_transform(fftw_complex* cube, bool forward) {
  const fftw_plan plan =
      fftw_plan_dft_3d(int(n), int(n), int(n), cube, cube, forward ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
  fftw_execute(plan);
  fftw_destroy_plan(plan);
}

template <class T>
void expect_cube_transforms(container kind) {
  constexpr qd::precision p = backend_test::precision_of<T>();
  backend_test::public_workspace<T> ws;  // outlives the descriptor
  qd::descriptor<p, qd::domain::COMPLEX> desc(std::vector<std::int64_t>{n, n, n});
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::IN_PLACE);
  desc.set_value(qd::config_param::WORKSPACE_PLACEMENT, qd::config_value::WORKSPACE_EXTERNAL);
  desc.set_value(qd::config_param::FORWARD_SCALE, static_cast<T>(forward_scale));
  desc.set_value(qd::config_param::BACKWARD_SCALE, static_cast<T>(backward_scale));
  desc.commit(test_queue());
  DFTI_DESCRIPTOR* r = qd::descriptor_access::record(desc);
  ASSERT_TRUE(taken_by_3d_padded(r));
  ws.attach(desc, r, backend_test::is_usm(kind) ? workspace::external_usm : workspace::external_buffer);

  fftw_cube reference;
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "forward" : "backward");
    const guarded_cube<T> data(kind, test_queue());
    data.fill(forward ? 17 : 29, reference.p);
    if (backend_test::is_usm(kind)) {
      (forward ? qd::compute_forward(desc, data.usm()) : qd::compute_backward(desc, data.usm())).wait();
    } else {
      sycl::buffer<T, 1> inout = data.buffer();
      forward ? qd::compute_forward(desc, inout) : qd::compute_backward(desc, inout);
    }
    reference_transform(reference.p, forward);
    const long double scale = static_cast<T>(forward ? forward_scale : backward_scale);
    const qez_test::accuracy e = data.error_against(reference.p, scale);
    const qez_test::accuracy_bounds b = qez_test::bounds_for<T>(volume);
    EXPECT_TRUE(qez_test::within(e, b)) << qez_test::describe(e, b);
    backend_test::report_in_bound_units(e, b);
    EXPECT_EQ(data.changed_guards(), 0) << "writes outside the cube";
  }
  test_queue().wait();
}

// One case (run alone), so that the two cubes never take their memory side
// by side.
TEST(padded_transform, cubes_of_512_in_both_precisions) {
  {
    SCOPED_TRACE("single precision, buffers");
    expect_cube_transforms<float>(container::buffer);
  }
  {
    SCOPED_TRACE("double precision, USM");
    expect_cube_transforms<double>(container::usm);
  }
}

}  // namespace
}  // namespace md_3d_test
