// OpenCL C program texts of the GPU backends, generated at build time by
// qez_codelet_generator (codelet libraries and kernels) and embedded in the
// library. Each text is a NUL-terminated string that lives until exit.
#pragma once

#include "dft/gpu/kernels/program_names.hpp"

namespace ulmara::qez::dft::kernels {

// The text of a family in one precision; null for an unknown family.
const char* program_text(const char* family, bool double_precision);

// The default one-dimensional complex backend's codelet library.
const char* program_text_c2c_1d_def(bool double_precision);
// The two-factor one-dimensional complex backend's program.
const char* program_text_c2c_1d_2_facts(bool double_precision);
// The 8192-point one-dimensional complex backend's program.
const char* program_text_c2c_8k(bool double_precision);
// The n-factor shared-local-memory backend's program.
const char* program_text_c2c_1d_n_facts_slm(bool double_precision);
// The three-factor one-dimensional complex backend's program.
const char* program_text_c2c_1d_3_facts(bool double_precision);
// The real one-dimensional backend's kernels around its complex child.
const char* program_text_r2c_1d_def(bool double_precision);
// The small multi-dimensional backend's shared-local-memory program.
const char* program_text_small_md_slm(bool double_precision);

}  // namespace ulmara::qez::dft::kernels
