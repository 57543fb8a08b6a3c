#include "tests/support/accuracy.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace qez_test {

accuracy_bounds bounds_for(long double epsilon, std::int64_t transform_length) {
  const long double log2n =
      std::max(1.0L, std::log2(static_cast<long double>(std::max<std::int64_t>(transform_length, 1))));
  return {4 * epsilon * std::sqrt(log2n), 10 * epsilon * log2n};
}

namespace {

template <class T>
accuracy measure_values(const std::vector<T>& got, const std::vector<T>& reference) {
  long double err2 = 0, ref2 = 0, err_max = 0, ref_max = 0;
  const std::size_t n = std::min(got.size(), reference.size());
  for (std::size_t i = 0; i < n; ++i) {
    const long double e = std::abs(got[i] - reference[i]);
    const long double r = std::abs(reference[i]);
    err2 += e * e;
    ref2 += r * r;
    err_max = std::max(err_max, e);
    ref_max = std::max(ref_max, r);
  }
  accuracy a;
  if (got.size() != reference.size()) {
    a.relative_l2 = a.relative_max = std::numeric_limits<long double>::infinity();
    return a;
  }
  a.relative_l2 = ref2 > 0 ? std::sqrt(err2 / ref2) : std::sqrt(err2);
  a.relative_max = ref_max > 0 ? err_max / ref_max : err_max;
  return a;
}

}  // namespace

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
