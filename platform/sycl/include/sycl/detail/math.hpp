// SYCL stand-in: the math built-ins cospi and sinpi, for host-run kernels.
// The argument is reduced modulo 2 exactly and the result evaluated in long
// double, so both are correctly rounded in float and within an ulp in double.
#pragma once

#include <cmath>

namespace sycl {
inline namespace _V1 {

namespace detail {
constexpr long double pi_ld = 3.141592653589793238462643383279502884L;

// sin(pi r) for r in [0, 1/2].
inline long double sinpi_quarter_reduced(long double r) {
  return r <= 0.25L ? std::sin(pi_ld * r) : std::cos(pi_ld * (0.5L - r));
}
inline long double cospi_ld(long double x) {
  long double r = std::fmod(std::fabs(x), 2.0L);  // cos(pi x) is even with period 2
  if (r > 1.0L) r = 2.0L - r;
  if (r > 0.5L) return -sinpi_quarter_reduced(r - 0.5L);
  return sinpi_quarter_reduced(0.5L - r);
}
inline long double sinpi_ld(long double x) {
  const long double sign = std::signbit(x) ? -1.0L : 1.0L;
  long double r = std::fmod(std::fabs(x), 2.0L);  // sin(pi x) is odd with period 2
  if (r >= 1.0L) return -sign * sinpi_quarter_reduced(std::fmin(r - 1.0L, 2.0L - r));
  return sign * sinpi_quarter_reduced(std::fmin(r, 1.0L - r));
}
}  // namespace detail

inline float cospi(float x) { return static_cast<float>(detail::cospi_ld(x)); }
inline double cospi(double x) { return static_cast<double>(detail::cospi_ld(x)); }
inline float sinpi(float x) { return static_cast<float>(detail::sinpi_ld(x)); }
inline double sinpi(double x) { return static_cast<double>(detail::sinpi_ld(x)); }

}  // namespace _V1
}  // namespace sycl
