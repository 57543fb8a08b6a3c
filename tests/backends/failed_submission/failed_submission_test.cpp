// Backends whose compute fails at a submission after earlier work was
// submitted (STANDIN_SYCL_FAIL_SUBMIT): the failure reaches the caller
// unchanged, nothing the compute submitted is still running when it does,
// the caller frees its data at once, and the next compute on the same plan
// is right. The rows, on USM and in double precision unless named below:
// - backends and strategies that run child plans: the large 1D, very large
//   1D, real 1D, 2D and 3D and padded 3D backends, the 2D main backend by
//   child plans and by its transposes, the 3D main backend by child plans;
// - backends and strategies that submit one command group per pass: the
//   default 1D, eight-k, three-factor, four-factor and four-factor column
//   batch backends, the 2D main backend's ESIMD engine, and the fused
//   strategies of the 2D and the 3D main backends.
// A row runs under the scenario its name starts with: harix_* under the
// Harix profile; sg8_* with a largest sub-group size of 8 as well (the small
// multi-dimensional backend declines every record then), which the large
// backend's row child does not take; gulon_* in single precision under the
// Gulon profile; gigabyte_* in single precision under the Harix profile,
// transforms of gigabytes whose compute after the failure is checked on an
// impulse, as a long-double reference of that many values would take
// minutes.
#include <gtest/gtest.h>

#include <complex>
#include <cstdlib>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/public_api_harness.hpp"
#include "tests/support/expect_accurate.hpp"
#include "tests/support/reference_dft.hpp"

namespace {

namespace bt = backend_test;
namespace qd = ulmara::qez::dft;
using qez_test::cld;

struct failing_row {
  const char* name;
  std::vector<std::int64_t> lengths;
  bool real;
  // STANDIN_SYCL_FAIL_SUBMIT: a submission after the compute's first one.
  const char* failing_submission;
  const qd::backend_table* backend;
  // A batch of one-dimensional transforms: one after another (distances
  // set, as the eight-k backend asks), or side by side as columns.
  std::int64_t transforms = 1;
  bt::batch_layout layout = bt::batch_layout::packed;
  bt::precision precision = bt::precision::double_precision;
  // Who provides the workspace (a caller's, where the library's own would
  // leave the backend too little memory for the transform).
  bt::workspace ws = bt::workspace::internal;
};

// The row's name in the test output, not a byte dump of the row.
void PrintTo(const failing_row& row, std::ostream* os) { *os << row.name; }

// Packed row-major strides (first offset 0) of `lengths` whose last
// dimension holds `last` values.
std::vector<std::int64_t> packed_strides(std::vector<std::int64_t> lengths, std::int64_t last) {
  lengths.back() = last;
  std::vector<std::int64_t> strides(lengths.size() + 1, 1);
  strides[0] = 0;
  for (std::size_t d = lengths.size() - 1; d > 0; --d) strides[d] = strides[d + 1] * lengths[d];
  return strides;
}

// Values of one transform in the backward domain (complex output).
std::int64_t backward_elements(const failing_row& row) {
  return row.real ? qez_test::conjugate_even_elements(row.lengths) : qez_test::real_elements(row.lengths);
}

bt::public_settings settings_of(const failing_row& row) {
  bt::public_settings s;
  s.batch = row.transforms;
  s.ws = row.ws;
  if (row.layout == bt::batch_layout::interleaved) {
    s.fwd_strides = s.bwd_strides = {0, row.transforms};
    s.fwd_distance = s.bwd_distance = 1;
    return s;
  }
  const std::int64_t n_last = row.lengths.back();
  s.fwd_strides = packed_strides(row.lengths, n_last);
  s.bwd_strides = packed_strides(row.lengths, row.real ? n_last / 2 + 1 : n_last);
  s.fwd_distance = qez_test::real_elements(row.lengths);
  s.bwd_distance = backward_elements(row);
  return s;
}

// The forward compute that the failing submission stops: the injected
// exception, unchanged, and no command of the queue still running. The
// data is freed as soon as the compute has failed.
template <class Descriptor, class Input, class Output>
void expect_failure_after_submissions(Descriptor& desc, const failing_row& row, std::int64_t in_count,
                                      std::int64_t out_count) {
  sycl::queue& queue = bt::gpu_test_queue();
  queue.wait();
  const bt::device_array<Input> in(in_count, bt::container::usm);
  const bt::device_array<Output> out(out_count, bt::container::usm);
  setenv("STANDIN_SYCL_FAIL_SUBMIT", row.failing_submission, 1);
  try {
    qd::compute_forward(desc, in.usm(), out.usm());
    ADD_FAILURE() << "the compute did not fail";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::runtime);
    EXPECT_NE(std::string(e.what()).find("STANDIN_SYCL_FAIL_SUBMIT"), std::string::npos) << e.what();
  }
  unsetenv("STANDIN_SYCL_FAIL_SUBMIT");
  EXPECT_EQ(queue.ext_ulmara_unfinished_commands(), 0u);
}

// The next forward compute of a single multi-dimensional or real
// transform against the long-double reference.
template <class Real, class Input, class Descriptor>
void expect_accurate_single_transform(Descriptor& desc, const failing_row& row, std::int64_t in_count,
                                      std::int64_t out_count) {
  std::vector<Input> x(in_count);
  std::vector<cld> reference;
  if constexpr (std::is_same_v<Input, Real>) {
    const std::vector<long double> values = qez_test::random_real(in_count, 7);
    x.assign(values.begin(), values.end());
    reference = qez_test::reference_r2c(values, row.lengths, 1);
  } else {
    const std::vector<cld> values = qez_test::random_complex(in_count, 7);
    x.assign(values.begin(), values.end());
    reference = qez_test::reference_c2c(values, row.lengths, 1, qez_test::dft_sign::forward);
  }
  const bt::device_array<Input> in(x, bt::container::usm);
  const bt::device_array<std::complex<Real>> out(out_count, bt::container::usm);
  bt::run_public_compute<true>(desc, in, out, bt::container::usm, false);
  const std::vector<std::complex<Real>> got = out.read();
  qez_test::expect_accurate<Real>(std::vector<cld>(got.begin(), got.end()), reference, in_count,
                                  "the compute after the failure");
}

constexpr long double pi = 3.141592653589793238462643383279502884L;

// Values above which the compute after the failure is checked on an
// impulse instead of against the long-double reference.
constexpr std::int64_t reference_values_limit = std::int64_t{1} << 24;

// The next forward compute of one complex transform on a unit impulse,
// against its transform in closed form at every output: the product over
// the dimensions of exp(-2 pi i k_d a_d / n_d) for the impulse at (a_d).
template <class Real, class Descriptor>
void expect_impulse_response(Descriptor& desc, const failing_row& row, std::int64_t count) {
  const std::vector<std::int64_t>& n = row.lengths;
  const std::size_t rank = n.size();
  std::vector<std::vector<cld>> phases(rank);
  std::int64_t impulse = 0;
  for (std::size_t d = 0; d < rank; ++d) {
    const std::int64_t a = (5 + 3 * static_cast<std::int64_t>(d)) % n[d];
    impulse = impulse * n[d] + a;
    for (std::int64_t k = 0; k < n[d]; ++k)
      phases[d].push_back(std::polar(1.0L, -2 * pi * static_cast<long double>(k * a % n[d]) / n[d]));
  }
  const bt::device_array<std::complex<Real>> in(static_cast<std::size_t>(count), bt::container::usm);
  const bt::device_array<std::complex<Real>> out(static_cast<std::size_t>(count), bt::container::usm);
  const std::complex<Real> one(1);
  bt::gpu_test_queue().memcpy(in.usm() + impulse, &one, sizeof one).wait();
  bt::run_public_compute<true>(desc, in, out, bt::container::usm, false);
  const std::vector<std::complex<Real>> got = out.read();
  qez_test::error_accumulator error;
  std::vector<std::int64_t> k(rank, 0);
  for (const std::complex<Real>& value : got) {
    cld expected = 1;
    for (std::size_t d = 0; d < rank; ++d) expected *= phases[d][static_cast<std::size_t>(k[d])];
    error.add(cld(value.real(), value.imag()), expected);
    for (std::size_t d = rank; d-- > 0 && ++k[d] == n[d];) k[d] = 0;  // the last dimension fastest
  }
  const qez_test::accuracy_bounds bounds = qez_test::bounds_for<Real>(count);
  EXPECT_TRUE(qez_test::within(error.result(), bounds))
      << "the compute after the failure: " << qez_test::describe(error.result(), bounds);
}

template <class Real, qd::domain Domain>
void fail_then_compute(const failing_row& row) {
  using input = std::conditional_t<Domain == qd::domain::REAL, Real, std::complex<Real>>;
  bt::public_workspace<Real> ws;  // outlives the descriptor
  qd::descriptor<bt::precision_of<Real>(), Domain> desc(row.lengths);
  bt::apply_settings<Real>(desc, settings_of(row));
  desc.commit(bt::gpu_test_queue());
  DFTI_DESCRIPTOR* record = qd::descriptor_access::record(desc);
  ASSERT_EQ(record->backend, row.backend);
  ws.attach(desc, record, row.ws);
  const std::int64_t in_count = qez_test::real_elements(row.lengths) * row.transforms;
  const std::int64_t out_count = backward_elements(row) * row.transforms;
  expect_failure_after_submissions<decltype(desc), input, std::complex<Real>>(desc, row, in_count, out_count);
  if (!row.real && row.lengths.size() > 1 && in_count > reference_values_limit)
    expect_impulse_response<Real>(desc, row, in_count);
  else if (row.real || row.lengths.size() > 1)
    expect_accurate_single_transform<Real, input>(desc, row, in_count, out_count);
  else
    bt::expect_back_to_back_computes(record, row.lengths[0], row.transforms, {1, bt::container::usm}, row.precision,
                                     row.layout);
}

template <class Real>
void fail_then_compute_in(const failing_row& row) {
  if (row.real)
    fail_then_compute<Real, qd::domain::REAL>(row);
  else
    fail_then_compute<Real, qd::domain::COMPLEX>(row);
}

class FailedSubmission : public ::testing::TestWithParam<failing_row> {};

TEST_P(FailedSubmission, WaitsForItsWorkAndLeavesThePlanUsable) {
  const failing_row& row = GetParam();
  if (bt::is_double(row.precision))
    fail_then_compute_in<double>(row);
  else
    fail_then_compute_in<float>(row);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, FailedSubmission,
    ::testing::Values(
        // Transpose, row child, column child: the column child's submission fails.
        failing_row{"harix_large_1d", {std::int64_t{1} << 21}, false, "compute_1d_xwd#3",
                    &qd::dft_c2c_large_1d_gpu_bkd_table_double},
        // Row child, then the column child fails.
        failing_row{"sg8_main_2d", {20, 28}, false, "compute_1d_xwd#2", &qd::dft_c2c_2d_main_gpu_bkd_table_double},
        // Three one-dimensional passes: the last one fails.
        failing_row{"sg8_main_3d", {6, 10, 12}, false, "compute_1d_xwd#3", &qd::dft_c2c_3d_main_gpu_bkd_table_double},
        // Input stage, then the complex child fails.
        failing_row{"sg8_real_1d", {4096}, true, "compute_1d_xwd#2", &qd::dft_r2c_1d_main_gpu_bkd_table_double},
        // The real child's three stages, then the complex child fails.
        failing_row{"sg8_real_2d", {20, 28}, true, "compute_1d_xwd#4", &qd::dft_r2c_2d_main_gpu_bkd_table_double},
        failing_row{"sg8_real_3d", {6, 10, 12}, true, "compute_1d_xwd#4", &qd::dft_r2c_3d_main_gpu_bkd_table_double},
        // Leaf backends: a later pass of the same compute fails.
        // Columns pass, then the rows pass fails.
        failing_row{"sg8_eight_k", {8192}, false, "compute_1d_xwd#2", &qd::dft_c2c_8k_2_facts_gpu_bkd_table_double},
        // Passes 0 and 1, then pass 2 fails.
        failing_row{"sg8_three_factor", {4096}, false, "compute_1d_xwd#3",
                    &qd::dft_c2c_3_facts_gpu_bkd_table_double},
        // Transpose pass, then the twiddle pass fails.
        failing_row{"harix_four_factor", {21000}, false, "compute_1d_xwd#2",
                    &qd::dft_c2c_4_facts_gpu_bkd_table_double},
        failing_row{"harix_four_factor_colbatch", {4096}, false, "compute_1d_xwd#2",
                    &qd::dft_c2c_4_facts_colbatch_gpu_bkd_table_double, 8, bt::batch_layout::interleaved},
        // The engine of the 2D main backend: pass 0, then pass 1 fails.
        failing_row{"harix_esimd_2d", {100, 256}, false, "qez_dft_gpu_dft_esimd_2_facts_compute#2",
                    &qd::dft_c2c_2d_main_gpu_bkd_table_double},
        // Passes 0 and 1, then pass 2 fails.
        failing_row{"sg8_default_1d", {30030}, false, "compute_1d_xwd#3", &qd::dft_c2c_default_gpu_bkd_table_double},
        // The fused strategies: the row kernel, then the column kernel fails;
        // two passes, then the third fails.
        failing_row{"sg8_fused_2d", {192, 192}, false, "compute_2d_kernel#2",
                    &qd::dft_c2c_2d_main_gpu_bkd_table_double},
        failing_row{"sg8_fused_3d", {135, 135, 135}, false, "compute_3d_kernel#3",
                    &qd::dft_c2c_3d_main_gpu_bkd_table_double},
        // Row child, transpose and column child, then the transpose back fails.
        failing_row{"gigabyte_transposes_2d", {16384, 16384}, false, "submit_transpose#2",
                    &qd::dft_c2c_2d_main_gpu_bkd_table_float, 1, bt::batch_layout::packed,
                    bt::precision::single_precision},
        // The x and z children, then the y child fails.
        failing_row{"gigabyte_padded_3d", {512, 512, 512}, false, "compute_1d_xwd#3",
                    &qd::dft_c2c_3d_padded_gpu_bkd_table_float, 1, bt::batch_layout::packed,
                    bt::precision::single_precision, bt::workspace::external_usm},
        // Stage 0 and stage 1 children, then the stage 2 child fails.
        failing_row{"gulon_very_large_1d", {std::int64_t{1} << 25}, false, "compute_1d_xwd#3",
                    &qd::dft_c2c_very_large_1d_gpu_bkd_table_float, 1, bt::batch_layout::packed,
                    bt::precision::single_precision}),
    [](const ::testing::TestParamInfo<failing_row>& info) { return std::string(info.param.name); });

}  // namespace
