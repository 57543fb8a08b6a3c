// The programs the device tests of the codelet library run: the embedded
// text of gpu_framework_c2c_1d_def with small test kernels appended, built
// once per (precision, direction). The codelet program enables all 64
// codelets (the slow build); the helper program enables none of them and
// everything else.
#pragma once

#include <cstdint>
#include <string>

#include "tests/kernels/opencl_runner.hpp"
#include "tests/support/accuracy.hpp"

namespace qez_kernels_test {

// The layout macros the copy kernel is built with (complex elements).
struct copy_layout {
  std::int64_t idist = 7, istride = 1, ostride = 3;
  std::int64_t batch[3] = {2, 3, 2};
  std::int64_t odist_z[3] = {17, 37, 113};
};
inline const copy_layout test_copy_layout{};

// The built programs; they throw with the build log when a build fails.
// Kernels: run_codelet(src, dst, uint size) runs fft_size_s on each
// work-item's `size` values.
cl_program codelet_program(real_kind k, direction d);
// Kernels: run_odd_default / run_even_default(src, dst, fact, is, os),
// run_twiddle(src, twiddles, product, swapped), run_cossinpi(args, ours,
// ours4, builtin), copy_output_d / _s.
cl_program helper_program(real_kind k, direction d);

// Keeps the worst error of each precision in units of its bound, for the
// summary printed when the test program ends.
void record_accuracy(real_kind k, const std::string& what, const qez_test::accuracy& a,
                     const qez_test::accuracy_bounds& b);

}  // namespace qez_kernels_test
