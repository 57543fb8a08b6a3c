// Offload plans while the process holds no OpenMP-offload entry points: no
// plan is made, nothing stays allocated, and execute operations refuse.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "interfaces/fftw/fftw_execute.hpp"
#include "interfaces/omp_offload/omp_offload_entry_points.hpp"
#include "qez_fftw3_offload.h"
#include "qez_service_control.h"

namespace {

namespace dft = ulmara::qez::dft;

TEST(FftwOffloadWithoutEntryPoints, PlannersMakeNoPlan) {
  if (&qez_DftiCommitDescriptor_omp_offload != nullptr)
    GTEST_SKIP() << "the OpenMP-offload entry points are present";
  std::vector<double> data(64);
  auto* c = reinterpret_cast<qez_fftw_complex*>(data.data());
  const long before = qez_standin_live_allocations();
  EXPECT_EQ(fftw_plan_dft_1d_omp_offload(8, c, c, QEZ_FFTW_FORWARD, 0, nullptr), nullptr);
  EXPECT_EQ(fftw_plan_dft_r2c_1d_omp_offload(8, data.data(), c, 0, nullptr), nullptr);
  const std::int64_t n = 8;
  const unsigned flags = 0;
  qez_fftw_plan p = reinterpret_cast<qez_fftw_plan>(&p);
  dfftw_plan_dft_c2r_1d_omp_offload_ilp64(&p, &n, c, data.data(), &flags, nullptr);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(qez_standin_live_allocations(), before);
}

TEST(FftwOffloadWithoutEntryPoints, ExecuteOperationsRefuse) {
  if (&qez_DftiComputeForward_omp_offload != nullptr)
    GTEST_SKIP() << "the OpenMP-offload entry points are present";
  dft::fftw_plan_record plan{};
  EXPECT_EQ(dft::fftw_plan_record_execute_forward(&plan, nullptr), 6);
  EXPECT_EQ(dft::fftw_plan_record_execute_backward_inplace(&plan, nullptr), 6);
}

}  // namespace
