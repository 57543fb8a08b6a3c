// Words the one-dimensional backends plan with: the two directions a plan
// may prepare, whether a prepared set serves one of them, and the
// precision of an instance. A backend takes them into its own namespace
// with `using namespace plan_basics;`, so that `<backend>::dir_forward` and
// the like name them there.
#pragma once

#include <cstdint>
#include <type_traits>

#include "dft/gpu/core/backend.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace plan_basics {

enum direction : int { dir_forward = 0, dir_backward = 1 };
constexpr int direction_count = 2;

// The record's `directions` value includes direction `d`.
inline bool serves(std::uint32_t directions, direction d) {
  return directions == directions_both ||
         directions == (d == dir_forward ? directions_forward : directions_backward);
}

template <class T>
constexpr bool is_double() {
  return std::is_same<T, double>::value;
}
// The letter of the precision in program, kernel and codelet names.
template <class T>
constexpr const char* precision_letter() {
  return is_double<T>() ? "d" : "s";
}

}  // namespace plan_basics
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
