#include "tests/backends/support/record_runs.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>
#include <type_traits>

#include "dft/gpu/core/backend.hpp"
#include "tests/backends/support/guard_zones.hpp"
#include "tests/support/reference_dft.hpp"

namespace backend_test {

void expect_no_backend_state(const DFTI_DESCRIPTOR* record) {
  EXPECT_EQ(record->backend, nullptr);
  EXPECT_EQ(record->bkd_data, nullptr);
  EXPECT_EQ(record->compute_fwd, nullptr);
  EXPECT_EQ(record->workspace_bytes[0] + record->workspace_bytes[1], 0u);
}

namespace dft = ulmara::qez::dft;

namespace {

template <class T>
using cplx = std::complex<T>;

template <class T>
std::vector<qez_test::cld> widened(const std::vector<cplx<T>>& v) {
  return std::vector<qez_test::cld>(v.begin(), v.end());
}

template <class T>
packed_outcome run_packed_typed(DFTI_DESCRIPTOR* record, const packed_data& d, direction dir, container c) {
  const std::int64_t values = d.length * d.count;
  packed_outcome o;
  o.input = qez_test::random_complex(values, d.seed);
  const guarded_run_arrays<T> arrays(std::vector<cplx<T>>(o.input.begin(), o.input.end()), placement_from(d.in_place),
                                     c, values);
  o.status = arrays.call(record, dir);
  if (o.status != 0) return o;
  o.output = widened(arrays.result().read());
  o.stray_writes = arrays.result().changed_outside(values);
  return o;
}

// Deterministic values in [-1, 1) from a linear congruential generator.
template <class T>
std::vector<cplx<T>> congruential_values(std::int64_t count, std::uint64_t seed) {
  std::vector<cplx<T>> v(static_cast<size_t>(count));
  std::uint64_t state = seed;
  const auto next = [&state]() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<T>(static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0);
  };
  for (cplx<T>& x : v) x = cplx<T>(next(), next());
  return v;
}

std::vector<std::int64_t> all_or(const std::vector<std::int64_t>& sample, std::int64_t count) {
  if (!sample.empty()) return sample;
  std::vector<std::int64_t> all;
  for (std::int64_t t = 0; t < count; ++t) all.push_back(t);
  return all;
}

template <class T>
run_result run_distanced_typed(DFTI_DESCRIPTOR* record, const distanced_data& d, direction dir, container c,
                               long double scale, const std::vector<std::int64_t>& sample) {
  const std::int64_t n = d.length;
  const std::int64_t values = std::max(d.read_distance, d.write_distance) * (d.count - 1) + n;
  const std::vector<cplx<T>> host = congruential_values<T>(values, d.seed);
  const guarded_run_arrays<T> arrays(host, placement_from(d.in_place), c, values);

  run_result out;
  out.status = arrays.call(record, dir);
  if (out.status != 0) return out;
  const std::vector<cplx<T>> got_all = arrays.result().read();
  std::vector<bool> written(static_cast<size_t>(values), false);
  for (std::int64_t t = 0; t < d.count; ++t)
    for (std::int64_t k = 0; k < n; ++k) written[static_cast<size_t>(t * d.write_distance + k)] = true;
  out.stray_writes = arrays.result().changed_outside(written);

  std::vector<qez_test::cld> got, reference;
  for (std::int64_t t : all_or(sample, d.count)) {
    std::vector<qez_test::cld> one;
    for (std::int64_t k = 0; k < n; ++k) {
      const cplx<T> v = host[static_cast<size_t>(t * d.read_distance + k)];
      one.emplace_back(v.real(), v.imag());
      const cplx<T> g = got_all[static_cast<size_t>(t * d.write_distance + k)];
      got.emplace_back(g.real(), g.imag());
    }
    const std::vector<qez_test::cld> ref = scaled_reference_c2c(one, {n}, 1, is_forward(dir), scale);
    reference.insert(reference.end(), ref.begin(), ref.end());
  }
  out.error = qez_test::measure(got, reference);
  return out;
}

}  // namespace

packed_outcome run_packed(DFTI_DESCRIPTOR* record, precision p, const packed_data& d, direction dir, container c) {
  return is_double(p) ? run_packed_typed<double>(record, d, dir, c) : run_packed_typed<float>(record, d, dir, c);
}

namespace {

qez_test::accuracy measure_against_reference(const std::vector<qez_test::cld>& got,
                                             const std::vector<qez_test::cld>& input, std::int64_t n,
                                             std::int64_t count, bool forward, long double scale) {
  if (n * count > long_double_reference_values)
    return qez_test::measure_c2c_against_double_reference(
        got, input, n, count, forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward, scale);
  return qez_test::measure(got, scaled_reference_c2c(input, {n}, count, forward, scale));
}

}  // namespace

run_result measure_packed(const packed_outcome& o, const packed_data& d, direction dir, long double scale,
                          const std::vector<std::int64_t>& transforms) {
  const bool forward = is_forward(dir);
  run_result out;
  out.status = o.status;
  out.stray_writes = o.stray_writes;
  if (o.status != 0) return out;
  out.stray_writes = o.stray_writes;
  const std::int64_t n = d.length;
  if (transforms.empty()) {
    out.error = measure_against_reference(o.output, o.input, n, d.count, forward, scale);
    return out;
  }
  std::vector<qez_test::cld> got, input;
  for (std::int64_t t : transforms) {
    input.insert(input.end(), o.input.begin() + t * n, o.input.begin() + (t + 1) * n);
    got.insert(got.end(), o.output.begin() + t * n, o.output.begin() + (t + 1) * n);
  }
  out.error = measure_against_reference(got, input, n, static_cast<std::int64_t>(transforms.size()), forward, scale);
  return out;
}

run_result run_distanced(DFTI_DESCRIPTOR* record, precision p, const distanced_data& d, direction dir, container c,
                         long double scale, const std::vector<std::int64_t>& sample) {
  return is_double(p) ? run_distanced_typed<double>(record, d, dir, c, scale, sample)
                      : run_distanced_typed<float>(record, d, dir, c, scale, sample);
}

void report_bounded_run(const bounded_run& r, const std::string& what) {
  std::printf("[ accuracy ] %s: ", what.c_str());
  report_in_bound_units(r.error, r.bounds);
}

qez_test::accuracy_bounds bounds_of(bool double_precision, std::int64_t length) {
  return double_precision ? qez_test::bounds_for<double>(length) : qez_test::bounds_for<float>(length);
}

dft::dft_estimate_config estimate_config_c2c_1d(std::int64_t length, std::int64_t count, std::int64_t fwd_distance,
                                                std::int64_t bwd_distance, std::uint32_t directions, bool in_place) {
  dft::dft_estimate_config c;
  c.rank = 1;
  c.lengths[0] = length;
  c.fwd_strides[0] = c.bwd_strides[0] = 1;
  c.input_strides[0] = c.output_strides[0] = 1;
  c.number_of_transforms = count;
  c.fwd_distance = fwd_distance;
  c.bwd_distance = bwd_distance;
  c.direction_count = directions == dft::directions_both ? 2 : 1;
  c.in_place = in_place;
  return c;
}

namespace {

template <class T>
void expect_back_to_back_computes_typed(DFTI_DESCRIPTOR* record, std::int64_t length, std::int64_t count,
                                        const back_to_back& calls, batch_layout layout, long double scale) {
  const std::int64_t values = length * count;
  std::vector<std::vector<cplx<T>>> inputs(static_cast<size_t>(calls.count), std::vector<cplx<T>>(values));
  for (std::size_t a = 0; a < inputs.size(); ++a)
    for (std::int64_t k = 0; k < values; ++k)
      inputs[a][k] = cplx<T>(static_cast<T>(std::sin(0.37 * k + a)), static_cast<T>(std::cos(1.3 * k - 2.0 * a)));
  std::vector<std::unique_ptr<run_arrays<cplx<T>>>> arrays;
  for (std::size_t a = 0; a < inputs.size(); ++a)
    arrays.push_back(std::make_unique<run_arrays<cplx<T>>>(inputs[a], placement::out_of_place, calls.data, values));
  std::uint64_t kind = calls.data == container::usm ? dft::container_usm : dft::container_buffer;
  std::vector<sycl::event> none;
  std::vector<sycl::event> done(inputs.size());
  for (size_t a = 0; a < inputs.size(); ++a)
    ASSERT_EQ(record->compute_fwd(record, arrays[a]->input().argument(), arrays[a]->result().argument(), &none, &kind,
                                  &done[a]),
              0);
  for (sycl::event& e : done) e.wait();
  const auto at = [&](std::int64_t t, std::int64_t n) {
    return static_cast<size_t>(layout == batch_layout::packed ? t * length + n : t + n * count);
  };
  for (size_t a = 0; a < inputs.size(); ++a) {
    const std::vector<cplx<T>> got_values = arrays[a]->result().read();
    std::vector<qez_test::cld> input, got;
    for (std::int64_t t = 0; t < count; ++t)
      for (std::int64_t n = 0; n < length; ++n) {
        input.emplace_back(inputs[a][at(t, n)]);
        got.emplace_back(got_values[at(t, n)]);
      }
    const std::vector<qez_test::cld> ref = scaled_reference_c2c(input, {length}, count, true, scale);
    const qez_test::accuracy e = qez_test::measure(got, ref);
    const qez_test::accuracy_bounds b = bounds_of(std::is_same<T, double>::value, length);
    EXPECT_TRUE(qez_test::within(e, b)) << "call " << a << ": " << qez_test::describe(e, b);
    report_in_bound_units(e, b);
  }
}

}  // namespace

void expect_back_to_back_computes(DFTI_DESCRIPTOR* record, std::int64_t length, std::int64_t count,
                                  const back_to_back& calls, precision p, batch_layout layout, long double scale) {
  if (is_double(p))
    expect_back_to_back_computes_typed<double>(record, length, count, calls, layout, scale);
  else
    expect_back_to_back_computes_typed<float>(record, length, count, calls, layout, scale);
}

void expect_back_to_back_usm_computes(DFTI_DESCRIPTOR* record, std::int64_t length, std::int64_t count, precision p,
                                      batch_layout layout, long double scale) {
  expect_back_to_back_computes(record, length, count, back_to_back{}, p, layout, scale);
}

}  // namespace backend_test
