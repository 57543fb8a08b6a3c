// The cosine and sine the twiddle-table writers take their entries from.
#pragma once

#include <cmath>

namespace ulmara::qez::dft {

// cos(pi t) and sin(pi t) of a value in T, computed in long double and
// rounded to T.
template <class T>
T cospi_of(T t) {
  return static_cast<T>(std::cos(3.141592653589793238462643383279502884L * static_cast<long double>(t)));
}
template <class T>
T sinpi_of(T t) {
  return static_cast<T>(std::sin(3.141592653589793238462643383279502884L * static_cast<long double>(t)));
}

}  // namespace ulmara::qez::dft
