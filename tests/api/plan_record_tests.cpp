// FFTW3-interface plan records: allocation through the process-wide hook,
// alignment, and destruction of what they own.
#include <gtest/gtest.h>

#include <cstdint>
#include <type_traits>

#include "dft/api/cpu_dfti.hpp"
#include "dft/api/fftw_plan_record.hpp"
#include "qez_service.h"
#include "qez_service_control.h"

namespace {

namespace dft = ulmara::qez::dft;

TEST(FftwPlanRecord, HookStartsAtTheAllocatorAndAlignmentIs64) {
  EXPECT_EQ(dft::fftw_plan_record_alloc_hook, &dft::fftw_plan_record_alloc);
  EXPECT_EQ(dft::dfti_cpu_alignment, 64);
}

TEST(FftwPlanRecord, FreshRecordIsZeroWithItsDestroyOperation) {
  dft::fftw_plan_record* plan = dft::fftw_plan_record_alloc_hook();
  ASSERT_NE(plan, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(plan) % 64, 0u);
  const auto* words = reinterpret_cast<const std::uint64_t*>(plan);
  for (int w = 0; w < 12; ++w) {
    if (w != 9) {
      EXPECT_EQ(words[w], 0u) << "word " << w;
    }
  }
  EXPECT_EQ(plan->destroy, &dft::fftw_plan_record_destroy);
  const long live = qez_standin_live_allocations();
  plan->destroy(dft::public_plan(plan));
  EXPECT_EQ(qez_standin_live_allocations(), live - 1) << "only the record was freed";
}

TEST(FftwPlanRecord, DestroyFreesBuffersThenTheDescriptorThenTheRecord) {
  const long before = qez_standin_live_allocations();
  dft::fftw_plan_record* plan = dft::fftw_plan_record_alloc_hook();
  ASSERT_NE(plan, nullptr);
  ASSERT_EQ(dft::dfti_cpu_create_double_1d(&plan->descriptor, 32, 64), 0);
  ASSERT_EQ(dft::dfti_cpu_commit(plan->descriptor), 0);
  plan->buffers[0] = dft::dfti_cpu_malloc(128);
  plan->buffers[2] = dft::dfti_cpu_malloc(256);
  EXPECT_GT(qez_standin_live_allocations(), before + 3);
  plan->destroy(dft::public_plan(plan));
  EXPECT_EQ(qez_standin_live_allocations(), before) << "every block went back";
}

// Callers outside the library call the record's operations through the
// public view (qez_fftw_destroy_plan calls destroy so); a call through a
// pointer of another function type is undefined, and clang's UBSan stopped
// the planner fuzzer on it (corpus input fftw_planner_fuzzer/
// destroy-through-public-view). The operations have the public types.
TEST(FftwPlanRecord, OperationsHaveThePublicFunctionTypes) {
  EXPECT_TRUE((std::is_same_v<decltype(dft::fftw_plan_record::destroy), decltype(qez_fftw_plan_record::destroy)>));
  EXPECT_TRUE((std::is_same_v<decltype(dft::fftw_plan_record::execute_cpu),
                              decltype(qez_fftw_plan_record::execute_cpu)>));
  EXPECT_TRUE((std::is_same_v<decltype(dft::fftw_plan_record::execute_offload),
                              decltype(qez_fftw_plan_record::execute_offload)>));
  EXPECT_TRUE((std::is_same_v<decltype(&dft::fftw_plan_record_destroy), decltype(qez_fftw_plan_record::destroy)>));
}

TEST(FftwPlanRecord, DestroyIgnoresNull) {
  const long before = qez_standin_live_allocations();
  dft::fftw_plan_record_destroy(nullptr);
  EXPECT_EQ(qez_standin_live_allocations(), before);
}

TEST(FftwPlanRecord, AllocationFailureGivesNull) {
  qez_standin_fail_allocations(0, 1);
  dft::fftw_plan_record* plan = dft::fftw_plan_record_alloc_hook();
  qez_standin_fail_allocations(0, 0);
  EXPECT_EQ(plan, nullptr);
}

}  // namespace
