#include "tests/backends/very_large_1d/transform_checks.hpp"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

namespace very_large_test {

void give_workspace(committed_record& r, const record_config& c, container kind) {
  if (c.internal_workspace) return;
  const std::uint64_t bytes = r.record()->workspace_bytes[0] + r.record()->workspace_bytes[1];
  ASSERT_EQ(backend_test::is_usm(kind) ? r.workspace().give_usm(r.record(), bytes)
                                       : r.workspace().give_buffer(r.record(), bytes),
            0);
}

namespace {

struct complex_layout {
  std::int64_t in_distance, out_distance;
};
complex_layout layout_of(const record_config& c, bool forward) {
  const std::int64_t first = c.first_distance != 0 ? c.first_distance : c.length;
  const std::int64_t second = c.second_distance != 0 ? c.second_distance : c.length;
  if (c.io_distances || forward) return {first, second};
  return {second, first};
}

// Runs one direction on random data and gives the output array back, its
// guard zone (after the last transform, and in the gaps between transforms)
// checked; the record and the device arrays are gone when it returns.
std::vector<float> computed_complex(const record_config& c, direction d, container kind, const complex_layout& l) {
  committed_record r(c);
  EXPECT_TRUE(r.committed_here()) << r.commit_status();
  if (!r.committed_here()) return {};
  give_workspace(r, c, kind);
  const std::int64_t in_values = (c.count - 1) * l.in_distance + c.length;
  const std::int64_t out_values = (c.count - 1) * l.out_distance + c.length;
  const std::int64_t held = std::max(in_values, out_values) + guard_values;
  std::unique_ptr<backend_test::run_arrays<float>> arrays;
  std::vector<float> host = random_floats(2 * (c.in_place ? std::max(in_values, out_values) : in_values), 7);
  host.resize(static_cast<size_t>(2 * held), guard_value);
  arrays = std::make_unique<backend_test::run_arrays<float>>(host, backend_test::placement_from(c.in_place), kind,
                                                             2 * held, guard_value);
  if (!c.in_place) std::vector<float>().swap(host);  // only in place is the input compared again
  const int status = arrays->call(r.record(), d);
  EXPECT_EQ(status, 0);
  if (status != 0) return {};
  std::vector<float> got = arrays->result().read();
  EXPECT_EQ(changed_outside_transforms(got, host, c.in_place, c.length, c.count, l.out_distance), 0);
  got.resize(static_cast<size_t>(2 * out_values));
  return got;
}

}  // namespace

std::int64_t changed_outside_transforms(const std::vector<float>& got, const std::vector<float>& input, bool in_place,
                                        std::int64_t length, std::int64_t count, std::int64_t distance) {
  std::int64_t changed = 0;
  for (std::int64_t k = 0; 2 * k < static_cast<std::int64_t>(got.size()); ++k) {
    if (backend_test::inside_a_transform(k, length, count, distance)) continue;
    for (std::int64_t part = 2 * k; part < 2 * k + 2; ++part) {
      const float before = in_place ? input[static_cast<size_t>(part)] : guard_value;
      if (got[static_cast<size_t>(part)] != before) ++changed;
    }
  }
  return changed;
}

void check_complex(const record_config& c, direction d, container kind) {
  const bool forward = backend_test::is_forward(d);
  const std::int64_t n = c.length;
  const complex_layout l = layout_of(c, forward);
  const std::int64_t in_values = (c.count - 1) * l.in_distance + n;
  const std::int64_t out_values = (c.count - 1) * l.out_distance + n;
  const std::vector<float> got = computed_complex(c, d, kind, l);
  ASSERT_FALSE(got.empty());

  const std::vector<float> source = random_floats(2 * (c.in_place ? std::max(in_values, out_values) : in_values), 7);
  const double scale = forward ? c.fwd_scale : c.bwd_scale;
  fftw_complex_array a(n);
  plan_guard plan(fftw_plan_dft_1d(static_cast<int>(n), a.p, a.p, forward ? FFTW_FORWARD : FFTW_BACKWARD,
                                   FFTW_ESTIMATE));
  for (std::int64_t t = 0; t < c.count; ++t) {
    for (std::int64_t k = 0; k < n; ++k) {
      a.p[k][0] = source[static_cast<size_t>(2 * (t * l.in_distance + k))];
      a.p[k][1] = source[static_cast<size_t>(2 * (t * l.in_distance + k) + 1)];
    }
    fftw_execute(plan.p);
    error_sum e;
    for (std::int64_t k = 0; k < n; ++k) {
      const size_t at = static_cast<size_t>(2 * (t * l.out_distance + k));
      e.add(std::complex<double>(got[at], got[at + 1]), scale * std::complex<double>(a.p[k][0], a.p[k][1]));
    }
    SCOPED_TRACE("transform " + std::to_string(t));
    expect_single_precision_accuracy(e, n);
  }
}

void check_real_forward(const record_config& c, container kind) {
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  give_workspace(r, c, kind);
  const std::int64_t n = c.length, half = n / 2 + 1;
  std::vector<float> got;
  {
    const backend_test::run_arrays<float> arrays(random_floats(n, 11), backend_test::placement::out_of_place, kind,
                                                 2 * (half + guard_values), guard_value);
    ASSERT_EQ(arrays.call(r.record(), direction::forward), 0);
    got = arrays.result().read();
  }
  EXPECT_EQ(changed_outside_transforms(got, {}, false, half, 1, 0), 0);

  fftw_real_array x(n);
  fftw_complex_array y(half);
  {
    const std::vector<float> host = random_floats(n, 11);
    for (std::int64_t k = 0; k < n; ++k) x.p[k] = host[static_cast<size_t>(k)];
  }
  plan_guard plan(fftw_plan_dft_r2c_1d(static_cast<int>(n), x.p, y.p, FFTW_ESTIMATE));
  fftw_execute(plan.p);
  error_sum e;
  for (std::int64_t k = 0; k < half; ++k)
    e.add(std::complex<double>(got[static_cast<size_t>(2 * k)], got[static_cast<size_t>(2 * k + 1)]),
          c.fwd_scale * std::complex<double>(y.p[k][0], y.p[k][1]));
  expect_single_precision_accuracy(e, n);
}

}  // namespace very_large_test
