// Default strides of a new record, fastest dimension first: packed complex
// values; for real transforms, rows of 2*(L0/2+1) reals on the forward side
// and L0/2+1 complex values on the backward side. Input and output strides
// stay unset (zero).
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

// Products of lengths too large for 64 bits saturate: such a layout can be
// described but never committed.
inline std::int64_t saturating_product(std::int64_t a, std::int64_t b) {
  std::int64_t p;
  return __builtin_mul_overflow(a, b, &p) ? INT64_MAX : p;
}

inline void fill_default_strides(DFTI_DESCRIPTOR* r) {
  dim_record* d = r->lengths.records;
  const bool real = r->domain != dfti_complex;
  const std::int64_t l0 = r->lengths.count > 0 ? d[0].length : 1;
  std::int64_t forward = 1, backward = 1;
  for (int k = 0; k < r->lengths.count; ++k) {
    d[k].input = 0;
    d[k].output = 0;
    d[k].forward = forward;
    d[k].backward = backward;
    const bool innermost_real = real && k == 0;
    forward = saturating_product(forward, innermost_real ? 2 * (l0 / 2 + 1) : d[k].length);
    backward = saturating_product(backward, innermost_real ? l0 / 2 + 1 : d[k].length);
  }
}

}  // namespace ulmara::qez::dft
