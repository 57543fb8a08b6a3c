// The program "blas_transpose" on the OpenCL device: the two entry points
// the large backend builds, and the plain copy, on matrices whose sides are
// not multiples of the 16 x 16 tile, with leading dimensions above the
// sides, a strided batch and a complex alpha. Elements outside the result
// keep their sentinel.
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "tests/backends/support/record_harness.hpp"

namespace {

namespace dft = ulmara::qez::dft;

struct matrix_case {
  std::int64_t m, n, lda, ldb, batch;
  double alpha_r, alpha_i;
};

template <class T>
struct precision_options;
template <>
struct precision_options<double> {
  static constexpr const char* prefix = "-DCOMPLEX16";
  static constexpr char letter = 'z';
};
template <>
struct precision_options<float> {
  static constexpr const char* prefix = "-DSINGLE_PRECISION -DCOMPLEX";
  static constexpr char letter = 'c';
};

std::size_t tiles(std::int64_t x) { return (static_cast<std::size_t>(x) + 15) / 16 * 16; }

template <class T>
void run_case(const matrix_case& c, bool transpose) {
  using cplx = std::complex<T>;
  sycl::queue& q = backend_test::gpu_test_queue();
  const std::string options = std::string(precision_options<T>::prefix) +
                              (transpose ? " -DTRANSPOSE" : " -DNONTRANSPOSE") + " -DOUT_OF_PLACE -DBATCHED_STRIDED";
  const std::string entry = std::string("qez_dft_") + precision_options<T>::letter + "omatcopy_batch_strided_kernel_" +
                            (transpose ? "t" : "n");
  const char* source = dft::kernels::program_text("blas_transpose", sizeof(T) == 8);
  ASSERT_NE(source, nullptr);
  sycl::kernel* kernel = nullptr;
  ASSERT_EQ(dft::build_cached_kernel({&q, "blas_transpose", source, entry.c_str(), options.c_str()}, kernel), 0);

  const std::int64_t out_rows = transpose ? c.n : c.m, out_cols = transpose ? c.m : c.n;
  const std::int64_t stride_a = c.lda * c.n + 3, stride_b = c.ldb * out_cols + 5;
  const cplx sentinel(T(-7), T(9));
  std::vector<cplx> a(static_cast<size_t>(stride_a * c.batch));
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = cplx(T(i % 97) / 8, T(i % 89) / 16 - 1);
  auto* da = sycl::malloc_device<cplx>(a.size(), q);
  auto* db = sycl::malloc_device<cplx>(static_cast<size_t>(stride_b * c.batch), q);
  q.memcpy(da, a.data(), a.size() * sizeof(cplx)).wait();
  q.fill(db, sentinel, static_cast<size_t>(stride_b * c.batch)).wait();

  q.submit([&](sycl::handler& cgh) {
     cgh.set_args(c.m, c.n, T(c.alpha_r), T(c.alpha_i), static_cast<void*>(da), std::int64_t{0}, c.lda, stride_a,
                  static_cast<void*>(db), std::int64_t{0}, c.ldb, stride_b, std::int64_t{1}, c.batch,
                  std::int64_t{0});
     const std::size_t d0 = tiles(c.m), d1 = tiles(c.n);
     cgh.parallel_for(sycl::nd_range<3>(sycl::range<3>(static_cast<size_t>(c.batch), d1, d0), sycl::range<3>(1, 16, 16)),
                      *kernel);
   }).wait();
  std::vector<cplx> b(static_cast<size_t>(stride_b * c.batch));
  q.memcpy(b.data(), db, b.size() * sizeof(cplx)).wait();
  sycl::free(da, q);
  sycl::free(db, q);
  dft::release_kernel_handle(kernel);

  const cplx alpha(T(c.alpha_r), T(c.alpha_i));
  std::int64_t wrong = 0, touched_pad = 0;
  for (std::int64_t t = 0; t < c.batch; ++t)
    for (std::int64_t col = 0; col < out_cols; ++col)
      for (std::int64_t row = 0; row < c.ldb; ++row) {
        const cplx got = b[static_cast<size_t>(t * stride_b + row + col * c.ldb)];
        if (row >= out_rows) {
          touched_pad += got != sentinel;
          continue;
        }
        const std::int64_t p = transpose ? col : row, qq = transpose ? row : col;
        const cplx want = alpha * a[static_cast<size_t>(t * stride_a + p + qq * c.lda)];
        wrong += std::abs(got - want) > 4 * std::numeric_limits<T>::epsilon() * (std::abs(want) + 1);
      }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(touched_pad, 0);
}

constexpr matrix_case ragged{37, 21, 40, 45, 2, 0.5, 0.25};
constexpr matrix_case square_tiles{32, 48, 32, 50, 1, 2.0, 0.0};

TEST(TransposeProgram, DoubleTransposeOfRaggedMatrices) { run_case<double>(ragged, true); }
TEST(TransposeProgram, SingleTransposeOfRaggedMatrices) { run_case<float>(ragged, true); }
TEST(TransposeProgram, DoubleTransposeOfWholeTiles) { run_case<double>(square_tiles, true); }
TEST(TransposeProgram, SinglePlainCopy) {
  const matrix_case copy{37, 21, 40, 41, 2, 1.5, -0.5};
  run_case<float>(copy, false);
}

}  // namespace
