// Sections of the n-factor column-batch family
// "gpu_framework_c2c_1d_n_fact_colbatch": one kernel per build that
// transforms a block of adjacent columns in shared local memory.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// KERNEL_FUNC: up to three factor passes over a column block, the optional
// post-twiddle, and the export chosen by the output layout.
void write_n_fact_colbatch_kernel(std::ostream& out, precision p);

}  // namespace qez_codelets
