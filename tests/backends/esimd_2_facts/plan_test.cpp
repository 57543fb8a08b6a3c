// Commit of the ESIMD plan on a device: acceptance and declining, workspace
// sizes, the kernel bundles and their specialization constants, workspaces
// attached by the caller (USM and buffers, with their errors), the
// container-kind check, and where the table writes and computes come from.
#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "dft/gpu/backends/md_complex/esimd_2_facts/esimd_kernel.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_internal.hpp"
#include "esimd_case.hpp"

namespace {

using namespace esimd_test;
namespace e2f = ulmara::qez::dft::esimd_2_facts;

// The slice size for `bytes` with the device's base-address alignment:
// the next multiple of max(a, 16) that is also one of min(a, 16).
std::uint64_t aligned(const sycl::queue& q, std::uint64_t bytes) {
  const std::uint64_t a = q.get_device().get_info<sycl::info::device::mem_base_addr_align>() / 8;
  const std::uint64_t step = std::max<std::uint64_t>(a, 16), also = std::min<std::uint64_t>(a, 16);
  std::uint64_t r = (bytes + step - 1) / step * step;
  while (r % also) r += step;
  return r;
}

template <class T>
std::uint64_t commit(sycl::queue& q, const lengths_t& lengths, std::uint64_t transforms = 1) {
  return make_plan<T>(lengths, transforms)->commit_plan(&q);
}

TEST(EsimdPlanCommit, DeclinesLayoutsItDoesNotTake) {
  sycl::queue q(sycl::gpu_selector_v);
  EXPECT_EQ(commit<double>(q, {64}), 1u);              // rank 1
  EXPECT_EQ(commit<double>(q, {64, 64, 64, 8}), 1u);   // rank 4
  EXPECT_EQ(commit<double>(q, {64, 0}), 1u);           // empty dimension
  const std::int64_t unit[] = {1, 64}, wide[] = {2, 128}, padded[] = {1, 66}, other_out[] = {1, 128};
  EXPECT_EQ(esimd_2_facts_plan<double>({64, 64}, 1.0, 1, 4096, 4096, wide, wide, false).commit_plan(&q), 1u);
  EXPECT_EQ(esimd_2_facts_plan<double>({64, 64}, 1.0, 1, 4096, 4096, padded, padded, false).commit_plan(&q), 1u);
  EXPECT_EQ(esimd_2_facts_plan<double>({64, 64}, 1.0, 1, 4096, 4096, unit, other_out, false).commit_plan(&q), 1u);
  const std::int64_t cube_bad[] = {1, 64, 4000};
  EXPECT_EQ(esimd_2_facts_plan<double>({64, 64, 64}, 1.0, 1, 0, 0, cube_bad, cube_bad, false).commit_plan(&q), 1u);
  // Distances: checked only for two transforms or more.
  EXPECT_EQ(esimd_2_facts_plan<double>({64, 64}, 1.0, 2, 4100, 4096, unit, unit, false).commit_plan(&q), 1u);
  EXPECT_EQ(esimd_2_facts_plan<double>({64, 64}, 1.0, 2, 4096, 5000, unit, unit, false).commit_plan(&q), 1u);
  EXPECT_EQ(esimd_2_facts_plan<double>({64, 64}, 1.0, 1, 7, 9, unit, unit, false).commit_plan(&q), 0u);
}

TEST(EsimdPlanCommit, DeclinesSizesItDoesNotTake) {
  sycl::queue q(sycl::gpu_selector_v);
  EXPECT_EQ(commit<double>(q, {256, 200}), 1u);     // excluded
  EXPECT_EQ(commit<double>(q, {200, 256}), 1u);     // N0 not a power of two
  EXPECT_EQ(commit<double>(q, {64, 64, 48}), 1u);   // 48 has no factor pair
  EXPECT_EQ(commit<double>(q, {64, 64, 1600}), 1u); // excluded before the size rules
  EXPECT_EQ(commit<float>(q, {4096, 64}), 1u);
  EXPECT_EQ(commit<float>(q, {64, 64, 4096}), 1u);
  EXPECT_EQ(commit<float>(q, {64, 96}), 0u);
  EXPECT_EQ(commit<double>(q, {64, 64, 90}), 0u);
}

TEST(EsimdPlanCommit, WorkspaceOf64x64Double) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = committed_plan<double>(q, {64, 64}, 2);
  ASSERT_TRUE(plan);
  const bool column_pass = 64 * 16 * 8 <= q.get_device().get_info<sycl::info::device::local_mem_size>();
  EXPECT_EQ(plan->column_batch[0], 0);
  EXPECT_EQ(plan->column_batch[1], column_pass ? 1 : 0);
  EXPECT_EQ(plan->slice_bytes[0], aligned(q, 16 * 8 * 8));
  EXPECT_EQ(plan->slice_bytes[1], plan->slice_bytes[0]);
  EXPECT_EQ(plan->slice_bytes[2], aligned(q, column_pass ? 16 * 8 * 64 : 16 * 8 * 8));
  EXPECT_EQ(plan->slice_bytes[3], plan->slice_bytes[2]);
  // The slices, and the slack for a parent's offset that is not a multiple
  // of the scalar.
  EXPECT_EQ(plan->get_workspace_bytes(0), 2 * (plan->slice_bytes[0] + plan->slice_bytes[2]) + sizeof(double));
  EXPECT_EQ(plan->get_workspace_bytes(1), 0u);
  EXPECT_EQ(plan->get_workspace_bytes(2), plan->get_workspace_bytes(0));
  EXPECT_EQ(plan->get_workspace_bytes(3), 0u);
  EXPECT_EQ(plan->get_workspace_bytes(-1), 0u);
  EXPECT_EQ(plan->batch_multiplier, 1520u);
  EXPECT_EQ(plan->vl, 16u);
  EXPECT_EQ(plan->events.size(), 4u);
  // The internal workspace holds both container kinds.
  EXPECT_NE(plan->internal_allocations[0], nullptr);
  EXPECT_EQ(plan->internal_allocations[1], nullptr);
  EXPECT_EQ(plan->container_kind, e2f::container_not_fixed);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NE(plan->table_pointers[k], nullptr);
    EXPECT_TRUE(plan->table_buffers[k]);
  }
}

// A double pass of 1024 points needs 128 KiB as a column batch: Harix and
// Nopra have it, Gulon (64 KiB) runs the row algorithm.
TEST(EsimdPlanCommit, ColumnBatchFollowsTheProfilesLocalMemory) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = committed_plan<double>(q, {64, 1024}, 1);
  ASSERT_TRUE(plan);
  const char* profile = std::getenv("STANDIN_GPU_PROFILE");
  ASSERT_NE(profile, nullptr);
  const bool roomy = std::string(profile) == "harix" || std::string(profile) == "nopra";
  EXPECT_EQ(plan->column_batch[1], roomy ? 1 : 0) << profile;
  EXPECT_EQ(plan->local_size[1], roomy ? 32u : 4u);
  EXPECT_EQ(plan->slice_bytes[2], aligned(q, roomy ? 16 * 32 * 8 * 32 : 16 * 32 * 32));
}

TEST(EsimdPlanCommit, Geometry3DPerPass) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = committed_plan<double>(q, {64, 64, 90}, 1);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->fact0[2], 10u);
  EXPECT_EQ(plan->fact1[2], 9u);
  EXPECT_EQ(plan->dims[2], 90u);
  const std::uint64_t m = plan->batch_multiplier;
  EXPECT_EQ(m, 199229440u / (64 * 64 * 90 * 16) / 2);
  EXPECT_EQ(plan->work_groups_per_chunk[0], 64u * 90 * m);
  for (int d = 0; d < 3; ++d) EXPECT_EQ(plan->global_size[d], plan->work_groups_per_chunk[d] * plan->local_size[d]);
  if (plan->column_batch[2]) {
    EXPECT_EQ(plan->work_groups_per_chunk[2], 8u * 64 * m);
    EXPECT_EQ(plan->local_size[2], 10u);
  } else {
    EXPECT_EQ(plan->work_groups_per_chunk[2], 64u * 64 * m);
    EXPECT_EQ(plan->local_size[2], 2u);
  }
}

TEST(EsimdPlanBundles, EachPassHoldsItsFourKernelsAndConstants) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = committed_plan<float>(q, {128, 64, 72}, 1);
  ASSERT_TRUE(plan);
  for (int d = 0; d < 3; ++d) {
    ASSERT_TRUE(plan->bundles[d]);
    const auto& b = plan->bundles[d]->bundle;
    std::vector<std::string> names;
    for (const auto& id : b.get_kernel_ids()) names.push_back(id.get_name());
    ASSERT_EQ(names.size(), 4u) << d;
    const char algo = plan->column_batch[d] ? '1' : '0';
    for (const char* dir : {"0", "1"})
      for (const char* buffered : {"0", "1"}) {
        const std::string name = std::string("_ZTS28qez_dft_esimd_2_facts_kernelIfLi") + dir + "EL8fft_algo" + algo +
                                 "ELb" + buffered + "EE";
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
      }
    EXPECT_EQ(b.get_specialization_constant<e2f::dft_spec_const_fact0>(), plan->fact0[d]);
    EXPECT_EQ(b.get_specialization_constant<e2f::dft_spec_const_fact1>(), plan->fact1[d]);
    EXPECT_EQ(b.get_specialization_constant<e2f::dft_spec_const_VL>(), 16u);
    EXPECT_EQ(b.get_specialization_constant<e2f::dft_num_col_batch_ffts>(), plan->column_batch[d] ? 8u : 1u);
    EXPECT_EQ(b.get_specialization_constant<e2f::dft_do_twiddle>(), 1u);
    EXPECT_EQ(b.get_specialization_constant<e2f::dft_do_fft0>(), 1u);
    EXPECT_EQ(b.get_specialization_constant<e2f::dft_do_fft1>(), 1u);
    EXPECT_EQ(b.get_specialization_constant<e2f::dft_spec_const_use_lsc_api>(), 0u);
  }
  // The column-batch example of the kernel names: float, forward, fft_algo 1, USM.
  using example = qez_dft_esimd_2_facts_kernel<float, 0, fft_algo::column_batch, false>;
  EXPECT_STREQ(sycl::get_kernel_id<example>().get_name(), "_ZTS28qez_dft_esimd_2_facts_kernelIfLi0EL8fft_algo1ELb0EE");
  const auto& b1 = plan->bundles[1]->bundle;
  EXPECT_EQ(b1.get_specialization_constant<e2f::dft_stride_to_next_elem>(), 128u);
  EXPECT_EQ(b1.get_specialization_constant<e2f::dft_spec_const_fwd_dist>(), 128u * 64);
  EXPECT_EQ(b1.get_specialization_constant<e2f::dft_dist_to_next_row_in_fact0xfact1>(), 128u * plan->fact1[1]);
  EXPECT_EQ(b1.get_specialization_constant<e2f::dft_dist_to_next_row_in_fact1xfact0>(), plan->fact0[1] * 128u);
  const auto& b2 = plan->bundles[2]->bundle;  // 72 = 9 x 8
  EXPECT_EQ(b2.get_specialization_constant<e2f::dft_num_batch_in_y_dir>(), 64u);
  EXPECT_EQ(b2.get_specialization_constant<e2f::dft_spec_const_padfact0>(), 14u);
  EXPECT_EQ(b2.get_specialization_constant<e2f::dft_spec_const_padfact1>(), 0u);
}

TEST(EsimdPlanContainers, CheckOfTheComputeTimeKind) {
  sycl::queue q(sycl::gpu_selector_v);
  auto internal = committed_plan<double>(q, {64, 64}, 1);
  ASSERT_TRUE(internal);
  EXPECT_EQ(internal->check_container_kind(0), 0);
  EXPECT_EQ(internal->check_container_kind(1), 0);
  try {
    internal->check_container_kind(2);
    ADD_FAILURE() << "kind 2 was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "The compute-time data container type must be known");
  }
  // A user-workspace plan before any workspace: neither kind.
  auto user = make_plan<double>({64, 64}, 1, 1.0, 1.0, false);
  ASSERT_EQ(user->commit_plan(&q), 0u);
  EXPECT_EQ(user->check_container_kind(0), 1);
  EXPECT_EQ(user->check_container_kind(1), 1);
  EXPECT_EQ(user->internal_allocations[0], nullptr);
  // USM attached with phase 2 fixes USM.
  void* area = sycl::malloc_device(user->get_workspace_bytes(0) + 64, q);
  std::vector<sycl::event> events;
  user->set_workspace(area, 2, &events, 0);
  EXPECT_EQ(events.size(), 4u);
  sycl::event::wait(events);
  EXPECT_EQ(user->container_kind, e2f::container_usm);
  EXPECT_EQ(user->check_container_kind(0), 0);
  EXPECT_EQ(user->check_container_kind(1), 1);
  EXPECT_THROW(user->check_container_kind(2), std::invalid_argument);
  // A buffer attached with phase 2 fixes buffers and drops the USM tables.
  sycl::buffer<char, 1> bytes(sycl::range<1>(user->get_workspace_bytes(0)));
  user->set_workspace(bytes, 2, nullptr, 0);
  EXPECT_EQ(user->container_kind, e2f::container_buffer);
  EXPECT_EQ(user->check_container_kind(0), 1);
  EXPECT_EQ(user->check_container_kind(1), 0);
  EXPECT_EQ(user->table_pointers[0], nullptr);
  q.wait();
  sycl::free(area, q);
}

TEST(EsimdPlanWorkspace, UsmSlicesAreCarvedFromTheOffset) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = make_plan<double>({64, 72}, 1, 1.0, 1.0, false);
  ASSERT_EQ(plan->commit_plan(&q), 0u);
  char* area = static_cast<char*>(sycl::malloc_device(plan->get_workspace_bytes(0) + 256, q));
  // An offset that is not a multiple of the scalar moves up to the next
  // one: no slice starts before the area from the offset on.
  plan->set_workspace(area, 3, nullptr, 100);
  char* expect = area + 104;
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(reinterpret_cast<char*>(plan->table_pointers[k]), expect) << k;
    expect += plan->slice_bytes[k];
  }
  EXPECT_EQ(plan->container_kind, e2f::container_not_fixed);  // phase 3 fixes nothing
  // Phase 0 with a list: the plan makes its own buffer tables too.
  std::vector<sycl::event> events;
  plan->set_workspace(area, 0, &events, 0);
  EXPECT_EQ(events.size(), 8u);
  EXPECT_EQ(plan->check_container_kind(1), 0);
  EXPECT_EQ(plan->check_container_kind(0), 0);
  // Phase 1 drops only the second internal block; the tables stay.
  plan->set_workspace(area, 1, nullptr, 0);
  EXPECT_EQ(reinterpret_cast<char*>(plan->table_pointers[0]), area);
  sycl::event::wait(events);
  q.wait();
  plan.reset();
  sycl::free(area, q);
}

TEST(EsimdPlanWorkspace, BufferErrors) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = make_plan<double>({64, 64}, 1, 1.0, 1.0, false);
  ASSERT_EQ(plan->commit_plan(&q), 0u);
  const std::uint64_t bytes = plan->get_workspace_bytes(0);
  auto expect_invalid = [&](auto&& call, const char* message) {
    try {
      call();
      ADD_FAILURE() << "no exception; expected " << (message ? message : "the reinterpret error");
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), sycl::errc::invalid);
      if (message) {
        EXPECT_STREQ(e.what(), message);
      }
    }
  };
  sycl::buffer<char, 1> parent(sycl::range<1>(2 * bytes));
  sycl::buffer<char, 1> sub(parent, sycl::id<1>(0), sycl::range<1>(bytes));
  expect_invalid([&] { plan->set_workspace(sub, 2, nullptr, 0); }, "Cannot create sub buffer from sub buffer.");
  sycl::buffer<char, 1> small(sycl::range<1>(bytes - 16));
  expect_invalid([&] { plan->set_workspace(small, 2, nullptr, 0); },
                 "Requested sub-buffer size exceeds the size of the parent buffer");
  sycl::buffer<char, 1> odd(sycl::range<1>(bytes + 4));
  expect_invalid([&] { plan->set_workspace(odd, 2, nullptr, 0); }, nullptr);
  // Phase 1 of the buffer form attaches nothing.
  auto other = make_plan<double>({64, 64}, 1, 1.0, 1.0, false);
  ASSERT_EQ(other->commit_plan(&q), 0u);
  sycl::buffer<char, 1> fine{sycl::range<1>(bytes)};
  other->set_workspace(fine, 1, nullptr, 0);
  EXPECT_FALSE(other->table_buffers[0]);
  other->set_workspace(fine, 0, nullptr, 0);
  EXPECT_TRUE(other->table_buffers[3]);
  EXPECT_EQ(other->container_kind, e2f::container_not_fixed);
}

// A caller's workspace of exactly the reported size, `offset` bytes into an
// area whose bytes around it are guards: 64 or more after it, the area's
// size a multiple of 8 (the buffer form views the workspace as scalars).
constexpr char guard_byte = 0x5a;

std::vector<char> guarded_area(std::uint64_t offset, std::uint64_t bytes) {
  const std::uint64_t after = 64 + (8 - (offset + bytes) % 8) % 8;
  return std::vector<char>(offset + bytes + after, guard_byte);
}

void expect_guards_kept(const std::vector<char>& area, std::uint64_t offset, std::uint64_t bytes,
                        const std::string& what) {
  const auto changed = [&](std::uint64_t from, std::uint64_t to) {
    return std::count_if(area.begin() + from, area.begin() + to, [](char c) { return c != guard_byte; });
  };
  EXPECT_EQ(changed(0, offset), 0) << what << ": bytes before the workspace were written";
  EXPECT_EQ(changed(offset + bytes, area.size()), 0) << what << ": bytes after the workspace were written";
}

// Transforms with the caller's workspace at `offset`, in both forms.
template <class T>
void check_user_workspace(const lengths_t& lengths, std::uint64_t offset) {
  SCOPED_TRACE(name_of(lengths) + " at offset " + std::to_string(offset));
  sycl::queue q(sycl::gpu_selector_v);
  const std::uint64_t n = points(lengths);
  const auto data = to_precision<T>(qez_test::random_complex(static_cast<std::int64_t>(2 * n), 3));
  const auto forward = reference(to_long_double(data), lengths, 2, 0, 0.5L);
  const auto backward = reference(to_long_double(data), lengths, 2, 1, 2.0L);
  {
    auto plan = make_plan<T>(lengths, 2, T(0.5), T(2), false);
    ASSERT_EQ(plan->commit_plan(&q), 0u);
    const std::uint64_t bytes = plan->get_workspace_bytes(0);
    std::vector<char> host = guarded_area(offset, bytes);
    char* area = sycl::malloc_device<char>(host.size(), q);
    q.memcpy(area, host.data(), host.size()).wait();
    std::vector<sycl::event> events;
    plan->set_workspace(area, 2, &events, offset);
    expect_accurate(run(*plan, 0, container::usm, placement::out_of_place, data), forward, n, "usm forward");
    expect_accurate(run(*plan, 1, container::usm, placement::in_place, data), backward, n, "usm backward");
    plan.reset();
    q.memcpy(host.data(), area, host.size()).wait();
    sycl::free(area, q);
    expect_guards_kept(host, offset, bytes, "usm");
  }
  {
    auto plan = make_plan<T>(lengths, 2, T(0.5), T(2), false);
    ASSERT_EQ(plan->commit_plan(&q), 0u);
    const std::uint64_t bytes = plan->get_workspace_bytes(0);
    std::vector<char> host = guarded_area(offset, bytes);
    {
      sycl::buffer<char, 1> area(host.data(), sycl::range<1>(host.size()));
      plan->set_workspace(area, 2, nullptr, offset);
      expect_accurate(run(*plan, 0, container::buffer, placement::in_place, data), forward, n, "buffer forward");
      expect_accurate(run(*plan, 1, container::buffer, placement::out_of_place, data), backward, n,
                      "buffer backward");
      plan.reset();  // its sub-buffers go before the area writes back
    }
    expect_guards_kept(host, offset, bytes, "buffer");
  }
}

TEST(EsimdPlanWorkspace, TransformsWithTheCallersWorkspace) {
  check_user_workspace<double>({64, 90}, 512);
  check_user_workspace<float>({64, 64, 72}, 64);
  // Offsets that are not a multiple of the scalar, as a parent sharing one
  // workspace may hand over; the last table of these fills its slice.
  check_user_workspace<double>({64, 64}, 100);
  check_user_workspace<float>({64, 64}, 6);
}

TEST(EsimdPlanLocations, TableWritesAndComputesNameTheirFunctions) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = make_plan<double>({64, 64}, 1, 1.0, 1.0, false);
  ASSERT_EQ(plan->commit_plan(&q), 0u);
  void* area = sycl::malloc_device(plan->get_workspace_bytes(0), q);
  plan->set_workspace(area, 2, nullptr, 0);
  EXPECT_STREQ(plan->events[0].ext_ulmara_code_location().functionName(), "init_twiddles_on_device");
  EXPECT_STREQ(plan->events[2].ext_ulmara_code_location().functionName(), "init_twiddles_on_device");
  EXPECT_STREQ(plan->events[1].ext_ulmara_code_location().functionName(),
               plan->column_batch[1] ? "init_colbatch_twiddles_on_device" : "init_twiddles_on_device");
  double* data = sycl::malloc_device<double>(2 * 64 * 64, q);
  q.memset(data, 0, 2 * 64 * 64 * sizeof(double)).wait();
  auto e = ulmara::qez::dft::qez_dft_gpu_dft_esimd_2_facts_compute<1>(*plan, data, data, {});
  EXPECT_STREQ(e.ext_ulmara_code_location().functionName(), "qez_dft_gpu_dft_esimd_2_facts_compute");
  e.wait();
  q.wait_and_throw();
  sycl::free(data, q);
  plan.reset();
  sycl::free(area, q);
}

}  // namespace
