// Sections of the real 1D program family "gpu_framework_r2c_1d_def": the
// kernels around the complex child plan of the real 1D backend.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// r2c_kernel and the forward copy kernels under FWD, c2r_kernel and the
// backward copy kernels under BWD; kernel names end in the precision letter.
// Every kernel runs over (point k, row j) = (get_global_id(0),
// get_global_id(1)) and takes the group's first transform as a long.
void write_real_1d_kernels(std::ostream& out, precision p);

}  // namespace qez_codelets
