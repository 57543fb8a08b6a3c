// The unit root the twiddle-table writers take exact entries from.
#pragma once

#include <cmath>
#include <cstdint>

namespace ulmara::qez::dft {

// cos and sin of -2 pi m / n in long double, the product m reduced modulo n
// in integers first, so that no angle loses bits to its size.
inline void reduced_unit_root(std::uint64_t m, std::uint64_t n, long double* re, long double* im) {
  constexpr long double pi = 3.141592653589793238462643383279502884L;
  const long double a = -2.0L * pi * static_cast<long double>(m % n) / static_cast<long double>(n);
  *re = std::cos(a);
  *im = std::sin(a);
}

}  // namespace ulmara::qez::dft
