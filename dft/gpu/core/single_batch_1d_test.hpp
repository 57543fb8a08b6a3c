// The acceptance test the one-dimensional backends start from: no fused
// twiddle, complex interleaved data, one transform dimension of unit stride
// on the side read and the side written, batched over one dimension.
#pragma once

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft {

inline bool unit_stride_1d_single_batch(const DFTI_DESCRIPTOR* r) {
  if (!no_fused_twiddle(r) || !complex_interleaved(r)) return false;
  if (working_rank(r) != 1 || batch_rank(r) != 1) return false;
  const dim_record& d = r->work_lengths.records[0];
  return plan_basics::input_side_stride(d) == 1 && plan_basics::output_side_stride(d) == 1;
}

}  // namespace ulmara::qez::dft
