// Division rounded up, shared by the backends' planning and the workspace
// estimators.
#pragma once

#include <type_traits>

namespace ulmara::qez::dft {

// a / b rounded up, for a >= 0 and b > 0, in the common type of a and b.
template <class A, class B>
constexpr std::common_type_t<A, B> ceil_div(A a, B b) {
  using C = std::common_type_t<A, B>;
  return (static_cast<C>(a) + static_cast<C>(b) - 1) / static_cast<C>(b);
}

}  // namespace ulmara::qez::dft
