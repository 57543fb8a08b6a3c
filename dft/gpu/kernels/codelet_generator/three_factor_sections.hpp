// Sections of the three-factor family "gpu_framework_c2c_1d_3_facts": the
// block moves of each precision and the three row-batch kernels.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// KERNEL_FUNC0..KERNEL_FUNC2: the passes over FACT0, FACT1 and FACT2.
void write_three_factor_kernels(std::ostream& out, precision p);

}  // namespace qez_codelets
