// Backends whose compute fails at a submission after earlier work was
// submitted (STANDIN_SYCL_FAIL_SUBMIT): the failure reaches the caller
// unchanged, nothing the compute submitted is still running when it does,
// the caller frees its data at once, and the next compute on the same plan
// matches the long-double reference. One row per composite backend and per
// leaf backend that submits several command groups in one compute, on USM,
// in double precision under the Harix profile; rows named sg8_* run with a
// largest sub-group size of 8 (the small multi-dimensional backend declines
// every record then), which the large backend's row child does not take;
// rows named gulon_* run in single precision under the Gulon profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstdlib>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/support/expect_accurate.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using qez_test::cld;

// How the row's transforms lie in memory: one transform; `transforms` of
// them one after another (distances set, as the eight-k backend asks); or
// `transforms` one-dimensional columns side by side (distance 1, stride
// `transforms`).
enum class batch_layout { one, packed, columns };

struct failing_row {
  const char* name;
  std::vector<std::int64_t> lengths;
  bool real;
  // STANDIN_SYCL_FAIL_SUBMIT: a submission after the compute's first one.
  const char* failing_submission;
  const qd::backend_table* backend;
  batch_layout layout = batch_layout::one;
  std::int64_t transforms = 1;
  qd::precision precision = qd::precision::DOUBLE;
};

// The row's name in the test output, not a byte dump of the row.
void PrintTo(const failing_row& row, std::ostream* os) { *os << row.name; }

sycl::queue& queue() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

// USM of `count` values, freed when the scope ends.
template <class T>
struct usm_array {
  explicit usm_array(std::int64_t count) : data(sycl::malloc_shared<T>(count, queue())), count(count) {}
  ~usm_array() { sycl::free(data, queue()); }
  usm_array(const usm_array&) = delete;
  usm_array& operator=(const usm_array&) = delete;
  std::vector<T> values() const { return std::vector<T>(data, data + count); }
  T* data;
  std::int64_t count;
};

template <class T>
std::vector<cld> widened(const std::vector<T>& values) {
  return std::vector<cld>(values.begin(), values.end());
}

// The forward compute that the failing submission stops: the injected
// exception, unchanged, and no command of the queue still running.
template <class Descriptor, class Input, class Output>
void expect_failure_after_submissions(Descriptor& desc, const failing_row& row, std::int64_t in_count,
                                      std::int64_t out_count) {
  queue().wait();
  usm_array<Input> in(in_count);
  usm_array<Output> out(out_count);
  std::fill(in.data, in.data + in_count, Input(1));
  setenv("STANDIN_SYCL_FAIL_SUBMIT", row.failing_submission, 1);
  try {
    qd::compute_forward(desc, in.data, out.data);
    ADD_FAILURE() << "the compute did not fail";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::errc::runtime);
    EXPECT_NE(std::string(e.what()).find("STANDIN_SYCL_FAIL_SUBMIT"), std::string::npos) << e.what();
  }
  unsetenv("STANDIN_SYCL_FAIL_SUBMIT");
  EXPECT_EQ(queue().ext_ulmara_unfinished_commands(), 0u);
}

// Packed row-major strides (first offset 0) of `lengths` whose last
// dimension holds `last` values.
std::vector<std::int64_t> packed_strides(std::vector<std::int64_t> lengths, std::int64_t last) {
  lengths.back() = last;
  std::vector<std::int64_t> strides(lengths.size() + 1, 1);
  strides[0] = 0;
  for (std::size_t d = lengths.size() - 1; d > 0; --d) strides[d] = strides[d + 1] * lengths[d];
  return strides;
}

// Sets the row's batch: its count, and the distances and strides of its
// layout (the strides of one transform are set already).
template <class Descriptor>
void set_batch(Descriptor& desc, const failing_row& row, std::int64_t fwd_elements, std::int64_t bwd_elements) {
  if (row.layout == batch_layout::one) return;
  const bool columns = row.layout == batch_layout::columns;
  desc.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, row.transforms);
  desc.set_value(qd::config_param::FWD_DISTANCE, columns ? std::int64_t{1} : fwd_elements);
  desc.set_value(qd::config_param::BWD_DISTANCE, columns ? std::int64_t{1} : bwd_elements);
  if (columns) {
    const std::vector<std::int64_t> strides{0, row.transforms};
    desc.set_value(qd::config_param::FWD_STRIDES, strides);
    desc.set_value(qd::config_param::BWD_STRIDES, strides);
  }
}

// The values of a `rows` x `cols` row-major matrix, column by column: the
// column layout from the packed one (and back with rows and cols swapped).
template <class T>
std::vector<T> transposed(const std::vector<T>& values, std::int64_t rows, std::int64_t cols) {
  std::vector<T> out(values.size());
  for (std::int64_t r = 0; r < rows; ++r)
    for (std::int64_t c = 0; c < cols; ++c) out[c * rows + r] = values[r * cols + c];
  return out;
}

// The forward reference of complex input `x`, laid out as the row lays out
// its batch.
std::vector<cld> complex_reference(const std::vector<cld>& x, const failing_row& row) {
  const auto forward = qez_test::dft_sign::forward;
  if (row.layout != batch_layout::columns) return qez_test::reference_c2c(x, row.lengths, row.transforms, forward);
  const std::int64_t n = row.lengths[0];
  const std::vector<cld> packed = qez_test::reference_c2c(transposed(x, n, row.transforms), row.lengths,
                                                          row.transforms, forward);
  return transposed(packed, row.transforms, n);
}

template <class Real, qd::domain Domain>
void fail_then_compute(const failing_row& row) {
  using input = std::conditional_t<Domain == qd::domain::REAL, Real, std::complex<Real>>;
  constexpr qd::precision precision = std::is_same_v<Real, float> ? qd::precision::SINGLE : qd::precision::DOUBLE;
  qd::descriptor<precision, Domain> desc(row.lengths);
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  const std::int64_t n_last = row.lengths.back();
  desc.set_value(qd::config_param::FWD_STRIDES, packed_strides(row.lengths, n_last));
  desc.set_value(qd::config_param::BWD_STRIDES, packed_strides(row.lengths, row.real ? n_last / 2 + 1 : n_last));
  const std::int64_t fwd_elements = qez_test::real_elements(row.lengths);
  const std::int64_t bwd_elements = row.real ? qez_test::conjugate_even_elements(row.lengths) : fwd_elements;
  set_batch(desc, row, fwd_elements, bwd_elements);
  desc.commit(queue());
  ASSERT_EQ(qd::descriptor_access::record(desc)->backend, row.backend);
  const std::int64_t in_count = fwd_elements * row.transforms;
  const std::int64_t out_count = bwd_elements * row.transforms;
  expect_failure_after_submissions<decltype(desc), input, std::complex<Real>>(desc, row, in_count, out_count);

  usm_array<input> in(in_count);
  usm_array<std::complex<Real>> out(out_count);
  std::vector<cld> reference;
  if constexpr (Domain == qd::domain::REAL) {
    const std::vector<long double> x = qez_test::random_real(in_count, 7);
    std::copy(x.begin(), x.end(), in.data);
    reference = qez_test::reference_r2c(x, row.lengths, 1);
  } else {
    const std::vector<cld> x = qez_test::random_complex(in_count, 7);
    std::copy(x.begin(), x.end(), in.data);
    reference = complex_reference(x, row);
  }
  qd::compute_forward(desc, in.data, out.data).wait();
  qez_test::expect_accurate<Real>(widened(out.values()), reference, fwd_elements,
                                  "the compute after the failure");
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
  if (row.precision == qd::precision::SINGLE)
    fail_then_compute_in<float>(row);
  else
    fail_then_compute_in<double>(row);
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
        failing_row{"sg8_eight_k", {8192}, false, "compute_1d_xwd#2", &qd::dft_c2c_8k_2_facts_gpu_bkd_table_double,
                    batch_layout::packed, 1},
        // Passes 0 and 1, then pass 2 fails.
        failing_row{"sg8_three_factor", {4096}, false, "compute_1d_xwd#3",
                    &qd::dft_c2c_3_facts_gpu_bkd_table_double},
        // Transpose pass, then the twiddle pass fails.
        failing_row{"harix_four_factor", {21000}, false, "compute_1d_xwd#2",
                    &qd::dft_c2c_4_facts_gpu_bkd_table_double},
        failing_row{"harix_four_factor_colbatch", {4096}, false, "compute_1d_xwd#2",
                    &qd::dft_c2c_4_facts_colbatch_gpu_bkd_table_double, batch_layout::columns, 8},
        // The engine of the 2D main backend: pass 0, then pass 1 fails.
        failing_row{"harix_esimd_2d", {100, 256}, false, "qez_dft_gpu_dft_esimd_2_facts_compute#2",
                    &qd::dft_c2c_2d_main_gpu_bkd_table_double},
        // Stage 0 and stage 1 children, then the stage 2 child fails.
        failing_row{"gulon_very_large_1d", {std::int64_t{1} << 25}, false, "compute_1d_xwd#3",
                    &qd::dft_c2c_very_large_1d_gpu_bkd_table_float, batch_layout::one, 1, qd::precision::SINGLE}),
    [](const ::testing::TestParamInfo<failing_row>& info) { return std::string(info.param.name); });

}  // namespace
