// OpenCL C program texts of the GPU backends, generated at build time by
// qez_codelet_generator (codelet libraries and kernels) and embedded in the
// library. Each text is a NUL-terminated string that lives until exit.
#pragma once

namespace ulmara {
namespace qez {
namespace dft {
namespace kernels {

// Family names as the backends use them in program names.
inline constexpr const char* family_c2c_1d_def = "gpu_framework_c2c_1d_def";

// The text of a family in one precision; null for an unknown family.
const char* program_text(const char* family, bool double_precision);

// The default one-dimensional complex backend's codelet library.
const char* program_text_c2c_1d_def(bool double_precision);

}  // namespace kernels
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
