#include "tests/support/accuracy.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include <fftw3.h>

namespace qez_test {

accuracy_bounds bounds_for(long double epsilon, std::int64_t transform_length) {
  const long double log2n =
      std::max(1.0L, std::log2(static_cast<long double>(std::max<std::int64_t>(transform_length, 1))));
  return {4 * epsilon * std::sqrt(log2n), 10 * epsilon * log2n};
}

// Squared magnitudes throughout: the largest square belongs to the largest
// magnitude, and two square roots at the end replace a hypot per value.
void error_accumulator::add(const cld& got, const cld& reference) {
  const long double e2 = std::norm(got - reference);
  const long double r2 = std::norm(reference);
  err2_ += e2;
  ref2_ += r2;
  err_max2_ = std::max(err_max2_, e2);
  ref_max2_ = std::max(ref_max2_, r2);
}

accuracy error_accumulator::result() const {
  accuracy a;
  a.relative_l2 = ref2_ > 0 ? std::sqrt(err2_ / ref2_) : std::sqrt(err2_);
  a.relative_max = ref_max2_ > 0 ? std::sqrt(err_max2_ / ref_max2_) : std::sqrt(err_max2_);
  return a;
}

namespace {

template <class T>
accuracy measure_values(const std::vector<T>& got, const std::vector<T>& reference) {
  if (got.size() != reference.size()) {
    accuracy a;
    a.relative_l2 = a.relative_max = std::numeric_limits<long double>::infinity();
    return a;
  }
  error_accumulator sums;
  for (std::size_t i = 0; i < got.size(); ++i) sums.add(got[i], reference[i]);
  return sums.result();
}

struct fftw_double_array {
  explicit fftw_double_array(std::int64_t n) : p(fftw_alloc_complex(static_cast<std::size_t>(n))) {}
  ~fftw_double_array() { fftw_free(p); }
  fftw_complex* p;
};

struct fftw_double_plan {
  ~fftw_double_plan() { fftw_destroy_plan(p); }
  fftw_plan p;
};

}  // namespace

accuracy measure_c2c_against_double_reference(const std::vector<cld>& got, const std::vector<cld>& input,
                                              std::int64_t length, std::int64_t count, dft_sign sign,
                                              long double scale) {
  const std::size_t values = static_cast<std::size_t>(length * count);
  if (got.size() != values || input.size() != values) return measure_values(got, std::vector<cld>());
  fftw_double_array a(length);
  const fftw_double_plan plan{fftw_plan_dft_1d(static_cast<int>(length), a.p, a.p, static_cast<int>(sign),
                                               FFTW_ESTIMATE)};
  if (plan.p == nullptr) throw std::runtime_error("double reference: no plan");
  error_accumulator sums;
  for (std::int64_t t = 0; t < count; ++t) {
    const std::size_t first = static_cast<std::size_t>(t * length);
    for (std::int64_t k = 0; k < length; ++k) {
      a.p[k][0] = static_cast<double>(input[first + k].real());
      a.p[k][1] = static_cast<double>(input[first + k].imag());
    }
    fftw_execute(plan.p);
    for (std::int64_t k = 0; k < length; ++k)
      sums.add(got[first + k], scale * cld(a.p[k][0], a.p[k][1]));
  }
  return sums.result();
}

accuracy measure(const std::vector<cld>& got, const std::vector<cld>& reference) {
  return measure_values(got, reference);
}

accuracy measure(const std::vector<long double>& got, const std::vector<long double>& reference) {
  return measure_values(got, reference);
}

std::string describe(const accuracy& a, const accuracy_bounds& b) {
  std::ostringstream s;
  s << "relative L2 error " << static_cast<double>(a.relative_l2) << " (bound "
    << static_cast<double>(b.relative_l2) << "), relative max error "
    << static_cast<double>(a.relative_max) << " (bound " << static_cast<double>(b.relative_max)
    << ")";
  return s.str();
}

}  // namespace qez_test
