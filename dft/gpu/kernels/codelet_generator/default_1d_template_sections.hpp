// The default 1D backend's pass kernels are printed per plan: the generator
// writes their printf templates (holes for the kernel name, the sizes and the
// routines) and the prelude ahead of the codelet library, and the backend
// fills the holes at commit. The texts are the same in both precisions.
#pragma once

#include <ostream>

#include "emitter.hpp"

namespace qez_codelets {

// qez_half_turns, and qez_cossinpi / qez_cossinpi4: cos(pi a) and sin(pi a)
// for |a| <= 1 of one value or four, the twiddles of the pass kernels (the
// last section of the gpu_framework_c2c_1d_def text).
void write_default_1d_cossinpi(std::ostream& out, precision p);

// fft_1_s_split .. fft_64_s_split (the register template's codelets) and the
// unit J on split parts, QEZ_J_RE / QEZ_J_IM.
void write_default_1d_split_codelets(std::ostream& out, precision p);

// CHUNK_OFFSET_TYPE long, QEZ_TWIDDLE, QEZ_TWIDDLE_ARRAY, QEZ_TWIDDLE_PARTS and
// QEZ_BATCH_OFFSET.
void write_default_1d_prelude(std::ostream& out);
// One pass with a codelet on values held in registers.
void write_default_1d_registers_template(std::ostream& out);
// The first pass of the register template staged through local memory, for
// a work-group of `columns` columns that writes the scratch area.
void write_default_1d_staged_registers_template(std::ostream& out);
// One pass with a direct DFT of any size from global to global memory.
void write_default_1d_generic_template(std::ostream& out);
// Both factors of a transform in one work-group through shared local memory.
void write_default_1d_shared_memory_template(std::ostream& out);

}  // namespace qez_codelets
