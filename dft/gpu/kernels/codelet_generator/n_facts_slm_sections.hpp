// Sections of the n-factor shared-local-memory program family
// (gpu_framework_c2c_1d_n_facts_slm): one whole transform per work-group in
// four radix passes FACT3, FACT2, FACT1, FACT0 through local memory.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// Memory helpers, twiddle application and the kernel KERNEL_FUNC, in both
// lane forms: lane pairs of vendor sub-groups (block reads and writes,
// shuffles) and the portable complex-per-work-item form that a device
// without the sub-group extension compiles, with the same geometry,
// arguments and options. Includes the optional pre-twiddle of the large 1D
// row pass (USE_RUNTIME_PRE_TWIDDLE, USE_PRECOMPUTED_PRE_TWIDDLE).
void write_n_facts_slm_kernel(std::ostream& out, precision p);

}  // namespace qez_codelets
