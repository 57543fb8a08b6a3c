// Sections of the 8192-point 1D program family: the two codelets its factors
// need and its two kernel passes (8192 = 128 x 64, four-step scheme).
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// fft_8_s and fft_16_s, each still guarded by NEED_FFT_FUNC.
void write_eight_k_codelets(std::ostream& out, precision p);

// TRANSPOSE_OUTPUT_FUNC (128-point column DFTs, inter-pass twiddles, scratch
// out) and SAME_ORIENTATION_OUTPUT_FUNC (64-point DFTs, natural-order output)
// in both lane forms: lane pairs of sub-groups of 8 with block reads and
// writes, and the portable complex-per-work-item form that a device without
// the sub-group extension compiles.
void write_eight_k_kernels(std::ostream& out, precision p);

}  // namespace qez_codelets
