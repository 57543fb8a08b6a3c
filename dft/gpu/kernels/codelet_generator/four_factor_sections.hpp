// Sections of the four-factor family "gpu_framework_c2c_1d_4_facts": the two
// passes of a four-step transform N = N1 x N2, each sub-length done as two
// codelet stages inside one work-group.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// KERNEL_FUNC of pass 1 (transpose pass), or of pass 2 (cross twiddles, then
// the second sub-length) when FOUR_FACTS_TWIDDLE_PASS is defined.
void write_four_factor_kernels(std::ostream& out, precision p);

}  // namespace qez_codelets
