// Kernels of the fused two-factor family "gpu_framework_c2c_3d_2_facts":
// whole lines of N = FACT0 x FACT1 points transformed in one work-group, one
// kernel per dimension. The 3D main backend builds the row kernel
// (KERNEL_FUNC0), the column kernel (KERNEL_FUNC1) and the depth kernel
// (KERNEL_FUNC2) of cubic transforms; the 2D main backend builds the row and
// column kernels of square ones.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// The three pass kernels in both lane forms (lane pairs of sub-groups of 8
// with block reads and writes; the portable complex-per-work-item form that
// a device without the sub-group extension compiles).
void write_c2c_3d_2_facts_kernels(std::ostream& out, precision p);

}  // namespace qez_codelets
