// A program that does not build, for every backend: each row commits a
// descriptor that the row's backend takes, with the builds of that backend's
// program made to fail (STANDIN_GPU_FAIL_BUILD), and checks what the
// backend then does: the build's exception leaves the commit, or the commit
// is refused with a status, or a later strategy or backend takes the
// descriptor and computes it correctly. A failed commit leaves the failing
// backend's table in the record and no private block. The same descriptor
// then commits with builds working, for the forward direction only, to the
// row's backend, whose backward compute is refused (status 2) unless the
// backend plans both directions whatever the record asks for.
//
// Rows run under the scenario their name starts with; one ctest entry per
// scenario (see CMakeLists.txt). "gulonbig" rows take gigabytes.
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "gpu/service/program_build.hpp"
#include "qez_gpu_profile.h"
#include "tests/backends/support/record_harness.hpp"
#include "tests/backends/support/scenario_test.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using P = qd::config_param;
using qez_test::cld;

// The float and double tables of one backend.
struct tables {
  const qd::backend_table* single_table;
  const qd::backend_table* double_table;
  const char* name;
  const qd::backend_table* of(bool dbl) const { return dbl ? double_table : single_table; }
};
#define QEZ_TABLES(name) \
  tables { &qd::name##_table_float, &qd::name##_table_double, #name }

const tables default_1d = QEZ_TABLES(dft_c2c_default_gpu_bkd);
const tables two_factor = QEZ_TABLES(dft_c2c_2_facts_gpu_bkd);
const tables eight_k = QEZ_TABLES(dft_c2c_8k_2_facts_gpu_bkd);
const tables three_factor = QEZ_TABLES(dft_c2c_3_facts_gpu_bkd);
const tables four_factor = QEZ_TABLES(dft_c2c_4_facts_gpu_bkd);
const tables n_fact_colbatch = QEZ_TABLES(dft_c2c_2_facts_colbatch_gpu_bkd);
const tables four_factor_colbatch = QEZ_TABLES(dft_c2c_4_facts_colbatch_gpu_bkd);
const tables n_facts_slm = QEZ_TABLES(dft_c2c_n_facts_gpu_bkd);
const tables large_1d = QEZ_TABLES(dft_c2c_large_1d_gpu_bkd);
const tables very_large_1d = {&qd::dft_c2c_very_large_1d_gpu_bkd_table_float, nullptr,
                              "dft_c2c_very_large_1d_gpu_bkd"};
const tables small_2d = QEZ_TABLES(dft_c2c_2d_small_gpu_bkd);
const tables main_2d = QEZ_TABLES(dft_c2c_2d_main_gpu_bkd);
const tables padded_3d = QEZ_TABLES(dft_c2c_3d_padded_gpu_bkd);
const tables main_3d = QEZ_TABLES(dft_c2c_3d_main_gpu_bkd);
const tables small_md = QEZ_TABLES(dft_small_md_gpu_bkd);
const tables real_1d = QEZ_TABLES(dft_r2c_1d_main_gpu_bkd);
const tables real_2d = QEZ_TABLES(dft_r2c_2d_main_gpu_bkd);
const tables real_3d = QEZ_TABLES(dft_r2c_3d_main_gpu_bkd);
#undef QEZ_TABLES

const tables* const all_tables[] = {&default_1d, &two_factor, &eight_k,   &three_factor, &four_factor,
                                    &n_fact_colbatch, &four_factor_colbatch, &n_facts_slm, &large_1d,
                                    &very_large_1d, &small_2d, &main_2d, &padded_3d, &main_3d, &small_md,
                                    &real_1d, &real_2d, &real_3d};

std::string name_of(const qd::backend_table* t) {
  if (t == nullptr) return "no backend";
  for (const tables* row : all_tables)
    if (row->single_table == t || row->double_table == t) return row->name;
  return "another backend";
}

// What a commit whose program does not build ends in.
enum class ending {
  build_exception,  // the build's sycl::exception leaves the commit
  refused,          // the commit fails with a status (an exception of the front end)
  taken_by,         // `taker` (a later backend, or the same backend's next strategy) commits it
};

struct shape {
  bool real = false;
  bool dbl = false;
  std::vector<std::int64_t> lengths;  // slowest first
  std::int64_t batch = 1;
  bool columns = false;  // 1D complex: transforms as columns (stride = batch, distance 1)
};

struct failure_row {
  const char* name;  // "<profile scenario>_<what>"
  shape s;
  const tables* backend;    // takes the descriptor when builds work
  const char* fail_text;    // in the source or options of the backend's programs only
  ending expected;
  const tables* taker;      // for taken_by
  // The backend plans both directions whatever the record asks for, so a
  // forward-only record computes backward too.
  bool plans_both_directions = false;
};

// The rows. Each text is found in the programs of the row's backend (its
// options or its program text) and in no program of the backend that takes
// over.
const failure_row rows[] = {
    {"gulon_eight_k", {false, false, {8192}, 2}, &eight_k, "-DN0_FACT0=", ending::build_exception, nullptr},
    {"gulon_two_factor", {false, true, {1000}, 3}, &two_factor, "-DPADFACT0=", ending::build_exception, nullptr},
    {"gulon_default_1d", {false, true, {1009}, 2}, &default_1d, "-DNONSUBGRP", ending::build_exception, nullptr},
    {"gulon_n_fact_colbatch", {false, false, {64}, 16, true}, &n_fact_colbatch, "-DOUTER_BATCH_OUTPUT_DISTANCE=",
     ending::build_exception, nullptr},
    {"sg8_three_factor", {false, true, {3000}, 1}, &three_factor, "-DKERNEL_FUNC2=", ending::build_exception, nullptr},
    {"gulon_small_md", {false, true, {8, 8}, 2}, &small_md, "-DSLM_BYTE_SIZE=", ending::taken_by, &small_2d},
    {"sg8_real_1d", {true, true, {1000}, 1}, &real_1d, "-DN_IS_EVEN=", ending::refused, nullptr},
    {"harix_n_facts_slm", {false, false, {4096}, 2}, &n_facts_slm, "-DFACT3_FUNC=", ending::build_exception, nullptr},
    {"jorva_four_factor_colbatch", {false, false, {4096}, 16, true}, &four_factor_colbatch, "-DFFT_LEN=",
     ending::build_exception, nullptr},
    {"sg8_small_2d", {false, true, {64, 64}, 1}, &small_2d, "fused_SLM", ending::taken_by, &main_2d, true},
    {"sg8_main_2d_fused", {false, true, {128, 128}, 1}, &main_2d, "-DWORK_GROUPS_IN_X_DIR=",
     ending::taken_by, &main_2d, true},
    {"sg8_real_2d", {true, false, {30, 100}, 1}, &real_2d, "-DN_IS_EVEN=", ending::refused,
     nullptr},
    {"gulon_main_3d_fused", {false, true, {135, 135, 135}, 1}, &main_3d, "-DWORK_GROUPS_IN_A_3D_BATCH=",
     ending::taken_by, &main_3d, true},
    {"harix_four_factor", {false, true, {10000}, 2}, &four_factor, "-DNUM_FFTS=", ending::build_exception, nullptr},
    {"harix_large_1d", {false, false, {std::int64_t{1} << 21}, 1}, &large_1d, "-DBATCHED_STRIDED",
     ending::build_exception, nullptr},
    // The large backend's row child, on the pre-twiddle backend's own list:
    // its build's exception leaves the child's commit and the parent's (in
    // double: the float row above leaves its kernels in the cache).
    {"harix_pre_twiddle", {false, true, {std::int64_t{1} << 21}, 1}, &large_1d, "-DUSE_PRE_TWIDDLE",
     ending::build_exception, nullptr},
    // The very large backend's real-domain kernel: the backend declines and
    // the real 1D backend after it in the list takes the record.
    {"gulonbig_very_large_1d_real", {true, false, {std::int64_t{1} << 26}, 1}, &very_large_1d,
     "-DKERNEL_FUNC=r2c_kernel_s", ending::taken_by, &real_1d},
};

// gtest prints a row by its name.
void PrintTo(const failure_row& row, std::ostream* out) { *out << row.name; }

using backend_test::scenario;

// Builds fail while it lives.
class failing_builds {
 public:
  explicit failing_builds(const char* text) { setenv(QEZ_GPU_PROFILE_ENV_FAIL_BUILD, text, 1); }
  ~failing_builds() { unsetenv(QEZ_GPU_PROFILE_ENV_FAIL_BUILD); }
  failing_builds(const failing_builds&) = delete;
  failing_builds& operator=(const failing_builds&) = delete;
};

std::int64_t elements_of(const std::vector<std::int64_t>& lengths) {
  std::int64_t n = 1;
  for (std::int64_t l : lengths) n *= l;
  return n;
}

// The descriptor of a shape, configured but not committed.
template <class Descriptor>
void configure(Descriptor& d, const shape& s) {
  d.set_value(P::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  if (s.batch == 1) return;
  d.set_value(P::NUMBER_OF_TRANSFORMS, s.batch);
  if (s.columns) {
    d.set_value(P::FWD_STRIDES, std::vector<std::int64_t>{0, s.batch});
    d.set_value(P::BWD_STRIDES, std::vector<std::int64_t>{0, s.batch});
    d.set_value(P::FWD_DISTANCE, std::int64_t{1});
    d.set_value(P::BWD_DISTANCE, std::int64_t{1});
    return;
  }
  const std::int64_t n = elements_of(s.lengths);
  const std::int64_t complex_side = s.real ? qez_test::conjugate_even_elements(s.lengths) : n;
  d.set_value(P::FWD_DISTANCE, n);
  d.set_value(P::BWD_DISTANCE, complex_side);
}

// Position of element k of transform t in a batch of the shape.
std::size_t at(const shape& s, std::int64_t per_transform, std::int64_t t, std::int64_t k) {
  return static_cast<std::size_t>(s.columns ? t + k * s.batch : t * per_transform + k);
}

// One forward compute out of place on USM from `host`: the `out_count`
// values of the output.
template <class In, class Out, class Descriptor>
std::vector<Out> forward_on_usm(Descriptor& d, const std::vector<In>& host, std::size_t out_count) {
  const backend_test::device_array<In> x(host, backend_test::container::usm);
  const backend_test::device_array<Out> y(out_count, backend_test::container::usm);
  qd::compute_forward(d, x.usm(), y.usm()).wait();
  return y.read();
}

// One forward transform out of place on USM, against the reference.
template <class T, bool real, class Descriptor>
qez_test::accuracy forward_error(Descriptor& d, const shape& s) {
  const std::int64_t n = elements_of(s.lengths);
  const std::int64_t out_n = s.real ? qez_test::conjugate_even_elements(s.lengths) : n;
  std::vector<cld> reference;
  std::vector<cld> got;
  if constexpr (real) {
    const std::vector<long double> in = qez_test::random_real(n * s.batch, 7);
    const std::vector<std::complex<T>> out =
        forward_on_usm<T, std::complex<T>>(d, std::vector<T>(in.begin(), in.end()), static_cast<std::size_t>(out_n * s.batch));
    reference = qez_test::reference_r2c(in, s.lengths, s.batch);
    got.assign(out.begin(), out.end());
  } else {
    const std::vector<cld> in = qez_test::random_complex(n * s.batch, 7);
    std::vector<std::complex<T>> host(in.size());
    for (std::int64_t t = 0; t < s.batch; ++t)
      for (std::int64_t k = 0; k < n; ++k)
        host[at(s, n, t, k)] = std::complex<T>(in[static_cast<std::size_t>(t * n + k)]);
    const std::vector<std::complex<T>> out = forward_on_usm<std::complex<T>, std::complex<T>>(d, host, host.size());
    reference = qez_test::reference_c2c(in, s.lengths, s.batch, qez_test::dft_sign::forward);
    got.resize(out.size());
    for (std::int64_t t = 0; t < s.batch; ++t)
      for (std::int64_t k = 0; k < n; ++k) got[static_cast<std::size_t>(t * n + k)] = cld(out[at(s, n, t, k)]);
  }
  return qez_test::measure(got, reference);
}

qez_test::accuracy_bounds bounds_of(const shape& s) {
  return qez_test::bounds_for(s.dbl ? 2.220446049250313e-16L : 1.1920929e-07L, elements_of(s.lengths));
}

// What a commit threw: "" when it did not.
template <class Descriptor>
std::string commit_failure(Descriptor& d) {
  try {
    d.commit(backend_test::gpu_test_queue());
  } catch (const sycl::exception& e) {
    return std::string("sycl::exception: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("exception: ") + e.what();
  }
  return std::string();
}

template <qd::precision prec, qd::domain dom>
void run_row(const failure_row& row) {
  using T = std::conditional_t<prec == qd::precision::DOUBLE, double, float>;
  const shape& s = row.s;
  const qd::backend_table* mine = row.backend->of(s.dbl);
  ASSERT_NE(mine, nullptr) << row.name;
  {
    qd::descriptor<prec, dom> d(s.lengths);
    configure(d, s);
    std::string failure;
    {
      const failing_builds fail(row.fail_text);
      failure = commit_failure(d);
    }
    const DFTI_DESCRIPTOR* r = qd::descriptor_access::record(d);
    // The failure came from a build of the row's text.
    EXPECT_NE(ulmara::qez::gpu::last_failed_build_log().find(row.fail_text), std::string::npos)
        << "no build failed on request: " << ulmara::qez::gpu::last_failed_build_log();
    switch (row.expected) {
      case ending::build_exception:
      case ending::refused: {
        const std::string kind = row.expected == ending::build_exception ? "sycl::exception: " : "exception: ";
        EXPECT_EQ(failure.compare(0, kind.size(), kind), 0) << failure;
        if (row.expected == ending::build_exception) EXPECT_NE(failure.find("-11"), std::string::npos) << failure;
        EXPECT_NE(r->commit_status, qd::dfti_committed);
        // The one clean-up rule: a failed commit keeps the table, frees the
        // block (backends after it in the list only declined).
        EXPECT_EQ(name_of(r->backend), row.backend->name);
        EXPECT_EQ(r->bkd_data, nullptr);
        break;
      }
      case ending::taken_by: {
        ASSERT_EQ(failure, "") << "the commit should have been taken over";
        EXPECT_EQ(name_of(r->backend), row.taker->name);
        const qez_test::accuracy a = forward_error<T, dom == qd::domain::REAL>(d, s);
        EXPECT_TRUE(qez_test::within(a, bounds_of(s))) << qez_test::describe(a, bounds_of(s));
        break;
      }
    }
  }
  // With builds working the row's backend takes it; a plan for the forward
  // direction only refuses the backward one.
  qd::descriptor<prec, dom> d(s.lengths);
  configure(d, s);
  qd::descriptor_access::record(d)->directions = qd::directions_forward;
  ASSERT_EQ(commit_failure(d), "");
  const DFTI_DESCRIPTOR* r = qd::descriptor_access::record(d);
  ASSERT_EQ(name_of(r->backend), row.backend->name) << "the row does not reach its backend";
  sycl::queue& q = backend_test::gpu_test_queue();
  const std::size_t count = static_cast<std::size_t>(elements_of(s.lengths) * s.batch + 2);
  auto* x = sycl::malloc_device<std::complex<T>>(count, q);
  auto* y = sycl::malloc_device<std::complex<T>>(count, q);
  std::string refusal;
  try {
    if constexpr (dom == qd::domain::REAL)
      qd::compute_backward(d, x, reinterpret_cast<T*>(y)).wait();
    else
      qd::compute_backward(d, x, y).wait();
  } catch (const std::exception& e) {
    refusal = e.what();
  }
  sycl::free(x, q);
  sycl::free(y, q);
  if (row.plans_both_directions)
    EXPECT_EQ(refusal, "") << "a plan of both directions refused backward";
  else
    EXPECT_NE(refusal.find("FFT_INVALID_DESCRIPTOR"), std::string::npos) << "backward gave: " << refusal;
}

class FailedBuild : public ::testing::TestWithParam<failure_row> {};

TEST_P(FailedBuild, CommitEndsAsTheBackendSays) {
  const failure_row& row = GetParam();
  const std::string prefix = scenario() + "_";
  ASSERT_EQ(std::string(row.name).compare(0, prefix.size(), prefix), 0)
      << row.name << " does not run under scenario " << scenario();
  if (row.s.real) {
    if (row.s.dbl)
      run_row<qd::precision::DOUBLE, qd::domain::REAL>(row);
    else
      run_row<qd::precision::SINGLE, qd::domain::REAL>(row);
  } else if (row.s.dbl) {
    run_row<qd::precision::DOUBLE, qd::domain::COMPLEX>(row);
  } else {
    run_row<qd::precision::SINGLE, qd::domain::COMPLEX>(row);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryBackend, FailedBuild, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<failure_row>& info) { return std::string(info.param.name); });

}  // namespace
