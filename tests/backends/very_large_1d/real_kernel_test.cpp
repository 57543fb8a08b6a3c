// The real-domain kernels on PoCL at small sizes, against long-double
// references: the post-processing turns the complex transform of the N / 2
// points z[m] = x[2m] + i x[2m + 1] into the real transform of x; the
// pre-processing turns a half spectrum X into the Z whose unnormalised
// backward transform of N / 2 points is the unnormalised real backward
// transform of X. In place over a batch, and out of place.
#include <complex>
#include <vector>

#include <gtest/gtest.h>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "tests/backends/very_large_1d/very_large_case.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"

namespace very_large_test {
namespace {

using qez_test::cld;

constexpr std::int64_t n = 64, m = n / 2;

struct kernel_guard {
  ~kernel_guard() { dft::release_kernel_handle(k); }
  sycl::kernel* k = nullptr;
};

// Complex values of `count` transforms `distance` apart, as floats.
std::vector<float> pack(const std::vector<std::vector<cld>>& rows, std::int64_t distance, std::int64_t values) {
  std::vector<float> out(static_cast<size_t>(2 * ((static_cast<std::int64_t>(rows.size()) - 1) * distance + values)),
                         -7.0f);
  for (size_t t = 0; t < rows.size(); ++t)
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(rows[t].size()); ++k) {
      out[2 * (t * distance + k)] = static_cast<float>(rows[t][static_cast<size_t>(k)].real());
      out[2 * (t * distance + k) + 1] = static_cast<float>(rows[t][static_cast<size_t>(k)].imag());
    }
  return out;
}

std::vector<cld> unpack(const std::vector<float>& data, std::int64_t t, std::int64_t distance, std::int64_t values) {
  std::vector<cld> out;
  for (std::int64_t k = 0; k < values; ++k)
    out.emplace_back(data[static_cast<size_t>(2 * (t * distance + k))], data[static_cast<size_t>(2 * (t * distance + k) + 1)]);
  return out;
}

// z of real data x: pairs of neighbours as complex values.
std::vector<cld> pairs_of(const std::vector<long double>& x) {
  std::vector<cld> z;
  for (std::int64_t j = 0; j < m; ++j) z.emplace_back(x[static_cast<size_t>(2 * j)], x[static_cast<size_t>(2 * j + 1)]);
  return z;
}

void expect_close(const std::vector<cld>& got, const std::vector<cld>& reference) {
  const qez_test::accuracy a = qez_test::measure(got, reference);
  const qez_test::accuracy_bounds b = qez_test::bounds_for<float>(n);
  EXPECT_TRUE(qez_test::within(a, b)) << qez_test::describe(a, b);
}

sycl::event launch(sycl::kernel& k, void* source, void* target, bool usm, std::int64_t rows) {
  std::vector<sycl::event> none;
  return vl::submit_real_kernel(backend_test::gpu_test_queue(), k, source, target,
                                usm ? dft::kind_usm_pointer : 1, rows, n, &none);
}

// Runs the kernel in place on `data` (USM or a byte buffer) and reads it back.
std::vector<float> run_in_place(sycl::kernel& k, std::vector<float> data, bool usm, std::int64_t rows) {
  sycl::queue& q = backend_test::gpu_test_queue();
  if (usm) {
    const backend_test::device_array<float> d(data, container::usm, q);
    launch(k, d.usm(), d.usm(), true, rows).wait();
    return d.read();
  }
  {
    sycl::buffer<char, 1> b(reinterpret_cast<char*>(data.data()), sycl::range<1>(data.size() * sizeof(float)));
    launch(k, &b, &b, false, rows);
  }
  return data;
}

class RealKernel : public ::testing::TestWithParam<bool> {};

TEST_P(RealKernel, PostProcessingGivesTheRealForwardTransformOfABatch) {
  const bool usm = GetParam();
  const std::int64_t count = 3, distance = m + 3;  // odd complex distance
  const dft::batch_layout_row batch{count, 0, 2 * n, distance, 0, 0};
  kernel_guard k;
  ASSERT_EQ(vl::build_real_kernel(&backend_test::gpu_test_queue(), batch, vl::dir_forward, k.k), 0);
  std::vector<std::vector<cld>> z_spectra;
  std::vector<std::vector<long double>> xs;
  for (std::int64_t t = 0; t < count; ++t) {
    xs.push_back(qez_test::random_real(n, static_cast<std::uint64_t>(30 + t)));
    z_spectra.push_back(qez_test::reference_c2c(pairs_of(xs.back()), {m}, 1, qez_test::dft_sign::forward));
  }
  const std::vector<float> out = run_in_place(*k.k, pack(z_spectra, distance, m + 1), usm, count);
  for (std::int64_t t = 0; t < count; ++t) {
    SCOPED_TRACE("transform " + std::to_string(t));
    expect_close(unpack(out, t, distance, m + 1), qez_test::reference_r2c(xs[static_cast<size_t>(t)], {n}, 1));
  }
  // Values between the transforms are left alone.
  EXPECT_EQ(out[static_cast<size_t>(2 * (m + 1))], -7.0f);
}

TEST_P(RealKernel, PreProcessingGivesTheHalfLengthSpectrumOfTheRealBackwardTransform) {
  const bool usm = GetParam();
  const std::int64_t count = 2, distance = m + 2;
  const dft::batch_layout_row batch{count, 0, 2 * n, distance, 0, 0};
  kernel_guard k;
  ASSERT_EQ(vl::build_real_kernel(&backend_test::gpu_test_queue(), batch, vl::dir_backward, k.k), 0);
  std::vector<std::vector<cld>> spectra;
  for (std::int64_t t = 0; t < count; ++t)
    spectra.push_back(qez_test::reference_r2c(qez_test::random_real(n, static_cast<std::uint64_t>(40 + t)), {n}, 1));
  const std::vector<float> out = run_in_place(*k.k, pack(spectra, distance, m + 1), usm, count);
  for (std::int64_t t = 0; t < count; ++t) {
    // Z = forward_M(z) / M for z the pairs of the unnormalised real backward transform.
    const std::vector<long double> x = qez_test::reference_c2r(spectra[static_cast<size_t>(t)], {n}, 1);
    std::vector<cld> z = qez_test::reference_c2c(pairs_of(x), {m}, 1, qez_test::dft_sign::forward);
    for (cld& v : z) v /= static_cast<long double>(m);
    SCOPED_TRACE("transform " + std::to_string(t));
    expect_close(unpack(out, t, distance, m), z);
  }
}

INSTANTIATE_TEST_SUITE_P(Containers, RealKernel, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "usm" : "buffer"; });

// Out of place (the road of a real backward transform that keeps its
// input): the source is read, the target written, the source unchanged.
TEST(RealKernelOutOfPlace, PreProcessingIntoAnotherArray) {
  const dft::batch_layout_row batch{1, 0, n, m + 1, 0, 0};
  kernel_guard k;
  ASSERT_EQ(vl::build_real_kernel(&backend_test::gpu_test_queue(), batch, vl::dir_backward, k.k), 0);
  const std::vector<cld> spectrum = qez_test::reference_r2c(qez_test::random_real(n, 50), {n}, 1);
  const std::vector<float> host = pack({spectrum}, m + 1, m + 1);
  sycl::queue& q = backend_test::gpu_test_queue();
  const backend_test::device_array<float> source(host, container::usm, q);
  const backend_test::device_array<float> target(static_cast<size_t>(2 * m), container::usm, q);
  launch(*k.k, source.usm(), target.usm(), true, 1).wait();
  EXPECT_TRUE(source.read() == host);
  const std::vector<long double> x = qez_test::reference_c2r(spectrum, {n}, 1);
  std::vector<cld> z = qez_test::reference_c2c(pairs_of(x), {m}, 1, qez_test::dft_sign::forward);
  for (cld& v : z) v /= static_cast<long double>(m);
  expect_close(unpack(target.read(), 0, m, m), z);
}

TEST(RealKernelProgram, UnbalancedDirectionsStopTheBuild) {
  const char* text = ulmara::qez::dft::kernels::program_text("real_fft_pre_and_post_processing", false);
  ASSERT_NE(text, nullptr);
  EXPECT_NE(std::string(text).find("Combination of FWD_DIR and BWD_DIR unsupported by "
                                   "real_fft_pre_and_post_processing"),
            std::string::npos);
  sycl::kernel* k = nullptr;
  const dft::cached_kernel_request request{&backend_test::gpu_test_queue(), "real_fft_pre_and_post_processing.test",
                                           text, "r2c_kernel_s",
                                           "-DFWD_DIR=1 -DBWD_DIR=1 -DBWD_D=1 -DKERNEL_FUNC=r2c_kernel_s "};
  EXPECT_THROW(dft::build_cached_kernel(request, k), sycl::exception);
  dft::release_kernel_handle(k);
}

}  // namespace
}  // namespace very_large_test
