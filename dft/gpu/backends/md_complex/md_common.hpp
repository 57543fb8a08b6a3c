// What the complex multi-dimensional backends share: the four strides of a
// dimension by role, read from its working-layout record, and the
// architectures of the ESIMD engine.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"
#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::dft::md_complex {

// Index of a dimension's stride by role.
enum stride_role : int { forward_input = 0, backward_input = 1, forward_output = 2, backward_output = 3 };
constexpr int stride_role_count = 4;

// The four strides of one dimension by role from its length record: the
// input/output strides where given, else the domain strides.
inline void take_strides(std::int64_t (&s)[stride_role_count], const dim_record& rec) {
  if (rec.input != 0 && rec.output != 0) {
    s[forward_input] = s[backward_input] = rec.input;
    s[forward_output] = s[backward_output] = rec.output;
  } else if (rec.input != 0) {
    s[forward_input] = s[backward_input] = rec.input;
    s[forward_output] = rec.backward;
    s[backward_output] = rec.forward;
  } else {
    s[forward_input] = rec.forward;
    s[backward_input] = rec.backward;
    s[forward_output] = rec.output != 0 ? rec.output : rec.backward;
    s[backward_output] = rec.output != 0 ? rec.output : rec.forward;
  }
}

// The device's architecture runs the ESIMD engine (Harix and Nopra).
inline bool runs_esimd_engine(std::uint32_t arch) {
  return arch == QEZ_GPU_ARCH_HARIX || arch == QEZ_GPU_ARCH_NOPRA;
}

}  // namespace ulmara::qez::dft::md_complex
