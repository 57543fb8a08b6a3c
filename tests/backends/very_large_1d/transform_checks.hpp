// Whole very large transforms checked value by value against FFTW in double
// precision (a long-double reference of 2^25 points would take too long),
// with the single-precision bounds of the library.
#pragma once

#include <fftw3.h>

#include <memory>
#include <vector>

#include "tests/backends/support/record_runs.hpp"
#include "tests/backends/very_large_1d/very_large_case.hpp"

namespace very_large_test {

// FFTW arrays and plans, freed at scope end.
struct fftw_complex_array {
  explicit fftw_complex_array(std::int64_t n) : p(fftw_alloc_complex(static_cast<size_t>(n))) {}
  ~fftw_complex_array() { fftw_free(p); }
  fftw_complex* p;
};
struct fftw_real_array {
  explicit fftw_real_array(std::int64_t n) : p(fftw_alloc_real(static_cast<size_t>(n))) {}
  ~fftw_real_array() { fftw_free(p); }
  double* p;
};
struct plan_guard {
  explicit plan_guard(fftw_plan plan) : p(plan) {}
  ~plan_guard() { fftw_destroy_plan(p); }
  fftw_plan p;
};

// The caller's complex data as interleaved floats.
using complex_data = backend_test::device_array<float>;

// The powers of two of the complex and real lengths.
constexpr std::int64_t p25 = std::int64_t{1} << 25;
constexpr std::int64_t p26 = std::int64_t{1} << 26;
constexpr std::int64_t p27 = std::int64_t{1} << 27;
constexpr std::int64_t p28 = std::int64_t{1} << 28;

// The output arrays of the checks hold guard_values complex values of
// guard_value after the last transform.
constexpr std::int64_t guard_values = 64;
constexpr float guard_value = -7231.5f;

// Values of `got` (interleaved complex) outside the `count` transforms of
// `length`, `distance` apart, that differ from what was there before: the
// guard value out of place, `input` in place.
std::int64_t changed_outside_transforms(const std::vector<float>& got, const std::vector<float>& input, bool in_place,
                                        std::int64_t length, std::int64_t count, std::int64_t distance);

// Hands a caller workspace of the container kind over, unless internal.
void give_workspace(committed_record& r, const record_config& c, container kind);

// Complex transforms: every transform of the batch against FFTW.
void check_complex(const record_config& c, direction d, container kind);
// A real forward transform of N points: M + 1 complex values against FFTW.
void check_real_forward(const record_config& c, container kind);

}  // namespace very_large_test
