// Accuracy of a computed transform against a long-double reference, and the
// bounds every transform of the library must meet: relative L2 error at most
// 4*eps*sqrt(log2 N) and largest error relative to the largest reference
// magnitude at most 10*eps*log2 N (log2 N taken as at least 1).
#pragma once

#include <complex>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/reference_dft.hpp"

namespace qez_test {

struct accuracy {
  long double relative_l2 = 0;
  long double relative_max = 0;
};

struct accuracy_bounds {
  long double relative_l2;
  long double relative_max;
};

accuracy_bounds bounds_for(long double epsilon, std::int64_t transform_length);

template <class Real>
accuracy_bounds bounds_for(std::int64_t transform_length) {
  return bounds_for(std::numeric_limits<Real>::epsilon(), transform_length);
}

// `got` and `reference` hold the same number of values.
accuracy measure(const std::vector<cld>& got, const std::vector<cld>& reference);
accuracy measure(const std::vector<long double>& got, const std::vector<long double>& reference);

// The sums behind an accuracy, gathered value by value (for references
// computed a piece at a time).
class error_accumulator {
 public:
  void add(const cld& got, const cld& reference);
  accuracy result() const;

 private:
  long double err2_ = 0, ref2_ = 0, err_max2_ = 0, ref_max2_ = 0;
};

// `count` packed transforms of `length` in `got` against FFTW's
// double-precision transform of `input` in the direction of `sign`, times
// `scale`: the reference for sizes where the long-double one would be too
// slow or too large. One transform of reference is held at a time.
accuracy measure_c2c_against_double_reference(const std::vector<cld>& got, const std::vector<cld>& input,
                                              std::int64_t length, std::int64_t count, dft_sign sign,
                                              long double scale);

// Text for assertion messages: the errors against the bounds.
std::string describe(const accuracy& a, const accuracy_bounds& b);

inline bool within(const accuracy& a, const accuracy_bounds& b) {
  return a.relative_l2 <= b.relative_l2 && a.relative_max <= b.relative_max;
}

}  // namespace qez_test
