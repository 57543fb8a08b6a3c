// Offload plans of the FFTW3-style interface over a host stand-in for the
// OpenMP-offload entry points (offload_entry_standin.hpp): what the C and
// Fortran planners hand to the descriptor and to the commit, what the
// executors hand to the compute, the refusals, and the numbers of plans
// computed through the stand-in on the host.
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <vector>

#include "interfaces/fftw/fftw_execute.hpp"
#include "qez_fftw3_offload.h"
#include "qez_service_control.h"
#include "tests/interfaces/fftw/offload_entry_standin.hpp"
#include "tests/interfaces/fftw/plan_inspection.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/strided_layout.hpp"

namespace {

namespace dft = ulmara::qez::dft;
using qez_test::offload_calls;
using qez_test::plan_owner;

void* const interop = reinterpret_cast<void*>(std::uintptr_t{0xABC0});
void* const other_interop = reinterpret_cast<void*>(std::uintptr_t{0xDEF0});

class FftwOffloadPlans : public ::testing::Test {
protected:
  void SetUp() override {
    offload_calls().clear();
    qez_test::set_offload_commit_status(0);
  }
  std::vector<std::complex<double>> a_ = std::vector<std::complex<double>>(64);
  std::vector<std::complex<double>> b_ = std::vector<std::complex<double>>(64);
  qez_fftw_complex* a() { return reinterpret_cast<qez_fftw_complex*>(a_.data()); }
  qez_fftw_complex* b() { return reinterpret_cast<qez_fftw_complex*>(b_.data()); }
  double* ra() { return reinterpret_cast<double*>(a_.data()); }
};

void expect_one_commit_with(const plan_owner& plan, void* expected_interop) {
  ASSERT_EQ(offload_calls().size(), 1u);
  EXPECT_TRUE(offload_calls()[0].commit);
  EXPECT_EQ(offload_calls()[0].descriptor, plan.record()->descriptor);
  EXPECT_EQ(offload_calls()[0].interop, expected_interop);
}

TEST_F(FftwOffloadPlans, InPlaceRealPlanPadsRowsAndCommitsWithTheInterop) {
  plan_owner plan(fftw_plan_dft_r2c_2d_omp_offload(4, 6, ra(), a(), QEZ_FFTW_ESTIMATE, interop));
  ASSERT_NE(plan.plan, nullptr);
  expect_one_commit_with(plan, interop);
  const qez_test::descriptor_settings s = plan.settings();
  EXPECT_EQ(s.lengths, (std::vector<std::int64_t>{4, 6}));
  EXPECT_EQ(s.fwd_strides, (std::vector<std::int64_t>{0, 8, 1}));
  EXPECT_EQ(s.bwd_strides, (std::vector<std::int64_t>{0, 4, 1}));
  EXPECT_EQ(s.placement, 43u);
  EXPECT_EQ(s.thread_limit, 1);
  EXPECT_EQ(plan.record()->execute_offload, &dft::fftw_plan_record_execute_forward_inplace);
  EXPECT_EQ(plan.record()->execute_cpu, nullptr);
  EXPECT_EQ(plan.record()->output, nullptr);
}

TEST_F(FftwOffloadPlans, OutOfPlaceRealPlanKeepsRealRows) {
  plan_owner plan(fftw_plan_dft_c2r_2d_omp_offload(4, 6, a(), reinterpret_cast<double*>(b()),
                                                   QEZ_FFTW_ESTIMATE, interop));
  ASSERT_NE(plan.plan, nullptr);
  EXPECT_EQ(plan.settings().fwd_strides, (std::vector<std::int64_t>{0, 6, 1}));
  EXPECT_EQ(plan.settings().bwd_strides, (std::vector<std::int64_t>{0, 4, 1}));
  EXPECT_EQ(plan.settings().placement, 44u);
  EXPECT_EQ(plan.record()->execute_offload, &dft::fftw_plan_record_execute_backward);
}

TEST_F(FftwOffloadPlans, ManyPlanWithoutEmbeddingsIsRowMajorWithTheHowmanyTriple) {
  std::vector<std::complex<float>> in(100), out(100);
  const int n[] = {4, 6};
  plan_owner plan(fftwf_plan_many_dft_omp_offload(
      2, n, 3, reinterpret_cast<qez_fftwf_complex*>(in.data()), nullptr, 1, 24,
      reinterpret_cast<qez_fftwf_complex*>(out.data()), nullptr, 1, 30, QEZ_FFTW_FORWARD,
      QEZ_FFTW_ESTIMATE, interop));
  ASSERT_NE(plan.plan, nullptr);
  const qez_test::descriptor_settings s = plan.settings();
  EXPECT_EQ(s.precision, 35u);
  EXPECT_EQ(s.fwd_strides, (std::vector<std::int64_t>{0, 6, 1}));
  EXPECT_EQ(s.bwd_strides, (std::vector<std::int64_t>{0, 6, 1}));
  EXPECT_EQ(s.transforms, 3u);
  EXPECT_EQ(s.fwd_distance, 24);
  EXPECT_EQ(s.bwd_distance, 30);
}

TEST_F(FftwOffloadPlans, BackwardGuruPlanReadsItsInputInTheBackwardDomain) {
  const qez_fftw_iodim dims[] = {{3, 5, 1}, {5, 1, 3}};
  const qez_fftw_iodim howmany = {2, 15, 16};
  plan_owner plan(fftw_plan_guru_dft_omp_offload(2, dims, 1, &howmany, a(), b(),
                                                 QEZ_FFTW_BACKWARD,
                                                 QEZ_FFTW_CONSERVE_MEMORY, interop));
  ASSERT_NE(plan.plan, nullptr);
  const qez_test::descriptor_settings s = plan.settings();
  EXPECT_EQ(s.bwd_strides, (std::vector<std::int64_t>{0, 5, 1}));
  EXPECT_EQ(s.fwd_strides, (std::vector<std::int64_t>{0, 1, 3}));
  EXPECT_EQ(s.bwd_distance, 15);
  EXPECT_EQ(s.fwd_distance, 16);
  EXPECT_EQ(s.workspace, 52u);
  EXPECT_EQ(plan.record()->execute_offload, &dft::fftw_plan_record_execute_backward);
}

TEST_F(FftwOffloadPlans, FortranGuruEntryReversesItsDimensions) {
  std::vector<std::complex<float>> in(256), out(256);
  auto* in_var = reinterpret_cast<qez_fftwf_complex*>(in.data());
  auto* out_var = reinterpret_cast<qez_fftwf_complex*>(out.data());
  const std::int32_t rank = 2, n[] = {8, 6}, is[] = {1, 8}, os[] = {1, 8};
  const std::int32_t hr = 1, h_n = 4, h_is = 48, h_os = 48;
  const int sign = QEZ_FFTW_FORWARD;
  const unsigned flags = 0;
  qez_fftw_plan p = nullptr;
  sfftw_plan_guru_dft_omp_offload_lp64(&p, &rank, n, is, os, &hr, &h_n, &h_is, &h_os, &in_var,
                                       &out_var, &sign, &flags, interop);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  expect_one_commit_with(plan, interop);
  const qez_test::descriptor_settings s = plan.settings();
  EXPECT_EQ(s.lengths, (std::vector<std::int64_t>{6, 8}));
  EXPECT_EQ(s.fwd_strides, (std::vector<std::int64_t>{0, 8, 1}));
  EXPECT_EQ(s.bwd_strides, (std::vector<std::int64_t>{0, 8, 1}));
  EXPECT_EQ(s.transforms, 4u);
  EXPECT_EQ(s.fwd_distance, 48);
  EXPECT_EQ(s.bwd_distance, 48);
}

TEST_F(FftwOffloadPlans, LP64ManyStridesDoNotWrapAtThirtyTwoBits) {
  const std::int32_t rank = 2, n[] = {2, 2}, howmany = 1;
  const std::int32_t inembed[] = {65536, 0}, istride = 65536, idist = 1;
  const std::int32_t onembed[] = {2, 0}, ostride = 1, odist = 4;
  const int sign = QEZ_FFTW_FORWARD;
  const unsigned flags = 0;
  qez_fftw_complex* in_var = a();
  qez_fftw_complex* out_var = b();
  qez_fftw_plan p = nullptr;
  dfftw_plan_many_dft_omp_offload_lp64(&p, &rank, n, &howmany, &in_var, inembed, &istride, &idist,
                                       &out_var, onembed, &ostride, &odist, &sign, &flags,
                                       interop);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(plan.settings().fwd_strides,
            (std::vector<std::int64_t>{0, std::int64_t{1} << 32, 65536}));
}

TEST_F(FftwOffloadPlans, RefusalsMakeNoCommitAndLeaveNothingAllocated) {
  const long before = qez_standin_live_allocations();
  const int n[8] = {2, 2, 2, 2, 2, 2, 2, 2};
  EXPECT_EQ(fftw_plan_dft_omp_offload(8, n, a(), b(), -1, 0, interop), nullptr);
  EXPECT_EQ(fftw_plan_dft_omp_offload(-1, n, a(), b(), -1, 0, interop), nullptr);
  EXPECT_EQ(fftw_plan_many_dft_r2c_omp_offload(8, n, 1, ra(), nullptr, 1, 1, b(), nullptr, 1, 1,
                                               0, interop),
            nullptr);
  const qez_fftw_iodim64 dims[1] = {{4, 1, 1}};
  const qez_fftw_iodim64 h[2] = {{2, 4, 4}, {2, 8, 8}};
  EXPECT_EQ(fftw_plan_guru64_dft_omp_offload(1, dims, 2, h, a(), b(), -1, 0, interop), nullptr);
  const qez_fftw_iodim mismatch[1] = {{4, 1, 2}};
  EXPECT_EQ(fftw_plan_guru_dft_omp_offload(1, mismatch, 0, nullptr, a(), a(), -1, 0, interop),
            nullptr);
  EXPECT_TRUE(offload_calls().empty());
  qez_test::set_offload_commit_status(83);
  EXPECT_EQ(fftw_plan_dft_1d_omp_offload(8, a(), b(), -1, 0, interop), nullptr);
  EXPECT_EQ(offload_calls().size(), 1u) << "the failing commit was made";
  EXPECT_EQ(qez_standin_live_allocations(), before);
}

TEST_F(FftwOffloadPlans, NegativeHowmanyRankPlansOneTransform) {
  const qez_fftw_iodim64 dims[1] = {{4, 1, 1}};
  const qez_fftw_iodim64 h[1] = {{2, 4, 4}};
  {
    plan_owner plan(fftw_plan_guru64_dft_omp_offload(1, dims, -1, h, a(), b(), -1, 0, interop));
    ASSERT_NE(plan.plan, nullptr);
    expect_one_commit_with(plan, interop);
    EXPECT_EQ(plan.settings().transforms, 1u) << "the howmany triple is not read";
  }
  offload_calls().clear();
  const qez_fftw_iodim narrow[1] = {{4, 1, 1}};
  plan_owner plan(fftw_plan_guru_dft_r2c_omp_offload(1, narrow, -3, nullptr, ra(), b(), 0, interop));
  ASSERT_NE(plan.plan, nullptr);
  expect_one_commit_with(plan, interop);
  EXPECT_EQ(plan.settings().transforms, 1u);
}

TEST_F(FftwOffloadPlans, ExecutorsHandTheirArraysAndInteropToTheCompute) {
  plan_owner plan(fftw_plan_dft_1d_omp_offload(8, a(), b(), QEZ_FFTW_FORWARD, 0, interop));
  ASSERT_NE(plan.plan, nullptr);
  offload_calls().clear();
  fftw_execute_omp_offload(plan.plan, other_interop);
  std::vector<std::complex<double>> c(8), d(8);
  auto* c_ptr = reinterpret_cast<qez_fftw_complex*>(c.data());
  auto* d_ptr = reinterpret_cast<qez_fftw_complex*>(d.data());
  fftw_execute_dft_omp_offload(plan.plan, c_ptr, d_ptr, interop);
  fftw_execute_dft_omp_offload(plan.plan, c_ptr, nullptr, interop);  // refused
  ASSERT_EQ(offload_calls().size(), 2u);
  const qez_test::offload_call& own = offload_calls()[0];
  EXPECT_TRUE(own.forward);
  EXPECT_EQ(own.descriptor, plan.record()->descriptor);
  EXPECT_EQ(own.input, static_cast<void*>(a()));
  EXPECT_EQ(own.output, static_cast<void*>(b()));
  EXPECT_EQ(own.interop, other_interop);
  EXPECT_EQ(offload_calls()[1].input, static_cast<void*>(c_ptr));
  EXPECT_EQ(offload_calls()[1].output, static_cast<void*>(d_ptr));
  EXPECT_EQ(plan.record()->input, static_cast<void*>(a())) << "the plan itself is not changed";
  EXPECT_EQ(plan.record()->output, static_cast<void*>(b()));
}

TEST_F(FftwOffloadPlans, RealExecutorsTestArraysOnlyInSinglePrecision) {
  std::vector<float> f(18);
  plan_owner single(fftwf_plan_dft_r2c_1d_omp_offload(
      16, f.data(), reinterpret_cast<qez_fftwf_complex*>(f.data()), 0, interop));
  plan_owner twin(fftw_plan_dft_r2c_1d_omp_offload(16, ra(), a(), 0, interop));
  ASSERT_NE(single.plan, nullptr);
  ASSERT_NE(twin.plan, nullptr);
  offload_calls().clear();
  fftwf_execute_dft_r2c_omp_offload(single.plan, f.data(), nullptr, interop);
  EXPECT_TRUE(offload_calls().empty());
  fftw_execute_dft_r2c_omp_offload(twin.plan, reinterpret_cast<double*>(b()), nullptr, interop);
  ASSERT_EQ(offload_calls().size(), 1u) << "the in-place plan runs on the new input";
  EXPECT_EQ(offload_calls()[0].input, static_cast<void*>(b()));
}

TEST_F(FftwOffloadPlans, FortranExecutorsReadTheirVariables) {
  plan_owner plan(fftw_plan_dft_1d_omp_offload(8, a(), a(), QEZ_FFTW_BACKWARD, 0, interop));
  ASSERT_NE(plan.plan, nullptr);
  offload_calls().clear();
  qez_fftw_complex* in_var = b();
  qez_fftw_complex* out_var = b();
  dfftw_execute_dft_omp_offload(&plan.plan, &in_var, &out_var, other_interop);
  dfftw_execute_omp_offload(&plan.plan, interop);
  dfftw_execute_omp_offload(nullptr, interop);
  dfftw_execute_dft_omp_offload(nullptr, &in_var, &out_var, interop);
  ASSERT_EQ(offload_calls().size(), 2u);
  EXPECT_FALSE(offload_calls()[0].forward);
  EXPECT_EQ(offload_calls()[0].input, static_cast<void*>(b()));
  EXPECT_EQ(offload_calls()[0].interop, other_interop);
  EXPECT_EQ(offload_calls()[1].input, static_cast<void*>(a()));
}

TEST_F(FftwOffloadPlans, PlansComputeTheReferenceThroughTheHostStandIn) {
  // 4 x 6 complex, then back through a Fortran ILP64 3-D form.
  const std::vector<std::int64_t> e{4, 6};
  const std::vector<qez_test::cld> x = qez_test::random_complex(24, 21);
  qez_test::place(x, e, 1, qez_test::make_layout(e), a_.data());
  const std::vector<qez_test::cld> placed =
      qez_test::collect<qez_test::cld>(a_.data(), e, 1, qez_test::make_layout(e));
  plan_owner plan(fftw_plan_dft_2d_omp_offload(4, 6, a(), b(), QEZ_FFTW_FORWARD, 0, interop));
  ASSERT_NE(plan.plan, nullptr);
  fftw_execute_omp_offload(plan.plan, interop);
  const qez_test::accuracy acc = qez_test::measure(
      qez_test::collect<qez_test::cld>(b_.data(), e, 1, qez_test::make_layout(e)),
      qez_test::reference_c2c(placed, e, 1, qez_test::dft_sign::forward));
  EXPECT_TRUE(qez_test::within(acc, qez_test::bounds_for<double>(24)))
      << qez_test::describe(acc, qez_test::bounds_for<double>(24));
}

}  // namespace
