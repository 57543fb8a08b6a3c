// The kernel of the family "gpu_framework_transpose": an out-of-place
// transpose of a NUM_ROWS x NUM_COLS matrix of complex single-precision
// values through shared local memory, one tile per work-group.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

void write_transpose_kernel(std::ostream& out, precision p);

}  // namespace qez_codelets
