// The kernel of the small multi-dimensional family
// "gpu_framework_small_md_slm": whole one- and two-dimensional complex and
// real transforms in one work-group's shared local memory.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

void write_small_md_kernel(std::ostream& out, precision p);

}  // namespace qez_codelets
