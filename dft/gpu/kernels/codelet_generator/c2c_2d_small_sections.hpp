// The kernel of the family "gpu_framework_c2c_2d_small": one square N x N
// complex transform (N a multiple of 8, at most 64) per work-group, both
// dimensions and the scale, in shared local memory.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

void write_c2c_2d_small_kernel(std::ostream& out, precision p);

}  // namespace qez_codelets
