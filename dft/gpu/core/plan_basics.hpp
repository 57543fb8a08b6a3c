// Words every GPU backend plans with: the two directions a plan may
// prepare, whether a prepared set serves one of them, the kinds of
// workspace a block records, the precision of an instance and the size of
// its complex values, the stride a dimension record gives each side, and
// the integer type of printf-style option and kernel-name texts. A backend takes them into its own namespace
// with `using namespace plan_basics;`, so that `<backend>::dir_forward` and
// the like name them there.
#pragma once

#include <cstdint>
#include <type_traits>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"

namespace ulmara::qez::dft::plan_basics {

enum direction : int { dir_forward = 0, dir_backward = 1 };
constexpr int direction_count = 2;

// The record's `directions` value includes direction `d`.
inline bool serves(std::uint32_t directions, direction d) {
  return directions == directions_both ||
         directions == (d == dir_forward ? directions_forward : directions_backward);
}

// Where a block's workspace came from: made by the commit itself (internal
// workspace mode), or handed over by the caller as a buffer or as USM.
enum workspace_kind : std::uint32_t { workspace_internal = 0, workspace_buffer = 1, workspace_usm = 2 };

template <class T>
constexpr bool is_double() {
  return std::is_same<T, double>::value;
}
// Bytes of one complex value of precision T.
template <class T>
constexpr std::int64_t complex_bytes() {
  return 2 * static_cast<std::int64_t>(sizeof(T));
}
// The letter of the precision in program, kernel and codelet names.
template <class T>
constexpr const char* precision_letter() {
  return is_double<T>() ? "d" : "s";
}

// The stride of a dimension on the side data is read from and on the side
// it is written to: the explicit input/output stride when one was set,
// otherwise the forward/backward stride.
inline std::int64_t input_side_stride(const dim_record& d) { return d.input != 0 ? d.input : d.forward; }
inline std::int64_t output_side_stride(const dim_record& d) { return d.output != 0 ? d.output : d.backward; }

// The argument type of "%lld" in option and kernel-name texts.
constexpr long long ll(std::int64_t v) { return static_cast<long long>(v); }

}  // namespace ulmara::qez::dft::plan_basics
