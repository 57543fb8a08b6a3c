// Sections of the program family "real_fft_pre_and_post_processing": the
// kernel that turns the complex transform of N / 2 points of the very large
// one-dimensional backend into a real transform of N points.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// One kernel KERNEL_FUNC(const global ftype *in, global ftype *out): the
// post-processing after a forward transform (FWD_DIR 1, BWD_DIR 0) or the
// pre-processing before a backward one (FWD_DIR 0, BWD_DIR 1). Work-item
// (k, iy) = (get_global_id(0), get_global_id(1)) handles points k and M - k
// of transform iy, M = 2 x (get_global_size(0) - 1); transforms lie BWD_D
// complex values apart.
void write_very_large_1d_real_kernels(std::ostream& out, precision p);

}  // namespace qez_codelets
