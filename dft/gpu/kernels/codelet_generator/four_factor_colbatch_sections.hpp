// Sections of the column-batch four-factor program: the sub-group helpers of
// each precision and the pass kernel KERNEL_FUNC compiled with
// FOUR_FACT_COLBATCH (pass 1 with TRANSPOSE_KERNEL, pass 2 with
// MULTIFACTOR_TWIDDLE).
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// The helpers and the column-batch kernel, all under FOUR_FACT_COLBATCH.
void write_four_factor_colbatch_kernel(std::ostream& out, precision p);

}  // namespace qez_codelets
