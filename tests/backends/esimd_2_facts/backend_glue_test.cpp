// The owning backends' use of the plan, through a descriptor record:
// planning with the record's scales and workspace mode, workspaces from
// add_workspace, and computes from the front end's arguments.
#include <stdexcept>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/backend_glue.hpp"
#include "esimd_case.hpp"

namespace {

using namespace esimd_test;
namespace e2f = ulmara::qez::dft::esimd_2_facts;

DFTI_DESCRIPTOR record_with(double forward_scale, double backward_scale, std::uint32_t internal) {
  DFTI_DESCRIPTOR r{};
  r.fwd_scale = forward_scale;
  r.bwd_scale = backward_scale;
  r.workspace_internal = internal;
  return r;
}

// The front end's USM or byte-buffer call on packed data.
template <class T>
std::vector<std::complex<T>> compute(esimd_2_facts_plan<T>& plan, int direction, bool usm,
                                     const std::vector<std::complex<T>>& data, int* status) {
  sycl::queue& q = *plan.queue;
  const std::size_t bytes = data.size() * sizeof(std::complex<T>);
  std::vector<std::complex<T>> out(data.size());
  sycl::event result;
  if (usm) {
    void* in = sycl::malloc_device(bytes, q);
    const std::vector<sycl::event> deps = {q.memcpy(in, data.data(), bytes)};
    *status = e2f::compute_with_plan(plan, direction, in, in, const_cast<std::vector<sycl::event>*>(&deps), 2,
                                     &result);
    result.wait();
    sycl::event::wait(deps);  // a refused call consumed nothing
    q.memcpy(out.data(), in, bytes).wait();
    sycl::free(in, q);
  } else {
    std::vector<std::complex<T>> source = data;
    {
      sycl::buffer<char, 1> in(reinterpret_cast<char*>(source.data()), sycl::range<1>(bytes));
      sycl::buffer<char, 1> o(reinterpret_cast<char*>(out.data()), sycl::range<1>(bytes));
      *status = e2f::compute_with_plan(plan, direction, &in, &o, nullptr, 1, &result);
    }
  }
  q.wait_and_throw();
  return out;
}

TEST(EsimdBackendGlue, PlansWithTheRecordsScalesAndComputes) {
  sycl::queue q(sycl::gpu_selector_v);
  const lengths_t lengths = {64, 72};
  DFTI_DESCRIPTOR r = record_with(0.5, 2.0, 1);
  std::unique_ptr<esimd_2_facts_plan<double>> plan(e2f::commit_packed_plan<double>(&r, &q, lengths, 2));
  ASSERT_TRUE(plan);
  EXPECT_EQ(r.workspace_bytes[0], plan->get_workspace_bytes(0));
  EXPECT_EQ(r.workspace_bytes[1], 0u);
  EXPECT_NE(plan->internal_allocations[0], nullptr);
  const std::uint64_t n = points(lengths);
  const auto data = to_precision<double>(qez_test::random_complex(2 * n, 4));
  for (bool usm : {true, false})
    for (int direction = 0; direction < 2; ++direction) {
      int status = -1;
      const auto got = compute(*plan, direction, usm, data, &status);
      ASSERT_EQ(status, 0);
      expect_accurate(got, reference(to_long_double(data), lengths, 2, direction, direction == 0 ? 0.5L : 2.0L), n,
                      usm ? "usm" : "buffer");
    }
  // Container kinds other than buffers and USM are refused by the plan.
  EXPECT_THROW(e2f::compute_with_plan(*plan, 0, nullptr, nullptr, nullptr, 3, nullptr), std::invalid_argument);
}

TEST(EsimdBackendGlue, DeclinedProblemsLeaveTheRecordAlone) {
  sycl::queue q(sycl::gpu_selector_v);
  DFTI_DESCRIPTOR r = record_with(1, 1, 1);
  r.workspace_bytes[0] = 77;
  EXPECT_EQ(e2f::commit_packed_plan<double>(&r, &q, {256, 200}, 1), nullptr);
  EXPECT_EQ(e2f::commit_packed_plan<float>(&r, &q, {64, 64, 48}, 1), nullptr);
  EXPECT_EQ(r.workspace_bytes[0], 77u);
}

// User workspace mode: add_workspace gives the tables; a compute of the
// other container kind gets status 5.
TEST(EsimdBackendGlue, CallersWorkspaceFixesTheContainer) {
  sycl::queue q(sycl::gpu_selector_v);
  const lengths_t lengths = {128, 64, 72};
  DFTI_DESCRIPTOR r = record_with(1, 1, 0);
  std::unique_ptr<esimd_2_facts_plan<float>> plan(e2f::commit_packed_plan<float>(&r, &q, lengths, 1));
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->internal_allocations[0], nullptr);
  const auto data = to_precision<float>(qez_test::random_complex(points(lengths), 8));
  int status = -1;
  compute(*plan, 0, true, data, &status);
  EXPECT_EQ(status, 5);  // no workspace yet
  // USM with phase 7, taken as 3: the tables are carved, the container stays open.
  void* usm = sycl::malloc_device(r.workspace_bytes[0], q);
  std::vector<sycl::event> events;
  EXPECT_EQ(e2f::attach_workspace(*plan, usm, 2, 0, 7, &events), 0);
  EXPECT_EQ(events.size(), 6u);
  sycl::event::wait(events);
  EXPECT_EQ(plan->container_kind, e2f::container_not_fixed);
  const auto forward = reference(to_long_double(data), lengths, 1, 0, 1);
  expect_accurate(compute(*plan, 0, true, data, &status), forward, points(lengths), "usm workspace");
  EXPECT_EQ(status, 0);
  compute(*plan, 0, false, data, &status);
  EXPECT_EQ(status, 5);  // no buffer tables
  // A byte buffer with phase 2 fixes buffers.
  sycl::buffer<char, 1> workspace{sycl::range<1>(r.workspace_bytes[0])};
  EXPECT_EQ(e2f::attach_workspace(*plan, &workspace, 1, 0, 2, nullptr), 0);
  EXPECT_EQ(plan->container_kind, e2f::container_buffer);
  compute(*plan, 0, true, data, &status);
  EXPECT_EQ(status, 5);
  const auto got = compute(*plan, 1, false, data, &status);
  EXPECT_EQ(status, 0);
  expect_accurate(got, reference(to_long_double(data), lengths, 1, 1, 1), points(lengths), "buffer workspace");
  plan.reset();
  sycl::free(usm, q);
}

}  // namespace
