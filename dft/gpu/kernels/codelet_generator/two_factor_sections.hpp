// Sections of the two-factor 1D program family: the generic DFTs that stand
// in for codelets of large sizes, and the kernel that runs whole
// transforms of N = FACT0 x FACT1 points per work-group.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// FACT0_DEFAULT_FUNC / FACT1_DEFAULT_FUNC: DFTs in registers with the codelet
// signature, compiled only when the build defines those names: the codelet
// of a size that splits into smaller factors, a direct DFT of a prime size.
void write_two_factor_default_funcs(std::ostream& out, precision p);

// The kernel KERNEL_FUNC in both lane forms: lane pairs of sub-groups of 8
// with block reads and writes, and the portable complex-per-work-item form
// that a device without the sub-group extension compiles.
void write_two_factor_kernel(std::ostream& out, precision p);

}  // namespace qez_codelets
