// Planning without a device: the batch-layout copy, the factor table, the
// derived geometry, the acceptance predicates on hand-made records and the
// selection of prebuilt kernels (whose images this build does not carry).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/prebuilt.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "gpu/service/device_registry.hpp"
#include "gpu/service/native_handles.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/program_build.hpp"
#include "gpu/service/qez_gpu_types.h"
#include "qez_service.h"
#include "tests/backends/support/record_harness.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace nf = ulmara::qez::dft::n_facts_slm;

// A record with one length and one batch row, as commit leaves it.
struct hand_made_record {
  DFTI_DESCRIPTOR r{};
  dft::dim_record length{};
  dft::dim_record batch[2]{};

  hand_made_record(std::int64_t n, dft::dim_record row) {
    length = {n, 1, 1, 0, 0};
    batch[0] = row;
    r.work_lengths = {1, 0, &length};
    r.work_batch = {1, 0, batch};
    r.domain = dft::dfti_complex;
    r.complex_storage = dft::dfti_complex_complex;
  }
};

// A batch row of the record and the layout row copied from it.
struct copy_case {
  const char* name;
  dft::dim_record batch;
  dft::batch_layout_row expected;
};
void PrintTo(const copy_case& c, std::ostream* os) { *os << c.name; }

class CopyBatchLayoutRows : public ::testing::TestWithParam<copy_case> {};

TEST_P(CopyBatchLayoutRows, CopiesCountKindAndDistances) {
  const copy_case& c = GetParam();
  hand_made_record h(4096, c.batch);
  dft::batch_layout_row row{};
  dft::copy_batch_layout(&row, &h.r);
  EXPECT_EQ(row.howmany, c.expected.howmany);
  EXPECT_EQ(row.io_distances, c.expected.io_distances);
  EXPECT_EQ(row.fwd_distance, c.expected.fwd_distance);
  EXPECT_EQ(row.bwd_distance, c.expected.bwd_distance);
  EXPECT_EQ(row.in_distance, c.expected.in_distance);
  EXPECT_EQ(row.out_distance, c.expected.out_distance);
}

INSTANTIATE_TEST_SUITE_P(
    CopyBatchLayout, CopyBatchLayoutRows,
    ::testing::Values(copy_case{"InputOutputDistances", {8, 4096, 4096, 0, 0}, {8, 1, 0, 0, 4096, 4096}},
                      copy_case{"ForwardBackwardDistances", {8, 0, 0, 4096, 4096}, {8, 0, 4096, 4096, 0, 0}},
                      copy_case{"NoDistancesIsNotInputOutput", {1, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<copy_case>& info) { return std::string(info.param.name); });

TEST(CopyBatchLayout, EmptyBatchListLeavesTheRowsAlone) {
  hand_made_record h(4096, {8, 4096, 4096, 0, 0});
  h.r.work_batch.count = 0;
  dft::batch_layout_row row{-1, -1, -1, -1, -1, -1};
  dft::copy_batch_layout(&row, &h.r);
  EXPECT_EQ(row.howmany, -1);
  EXPECT_EQ(row.out_distance, -1);
}

TEST(CopyBatchLayout, DistancesOfEachDirection) {
  const dft::batch_layout_row io{2, 1, 0, 0, 100, 200};
  EXPECT_EQ(dft::distances_of(io, false).idist, 100);
  EXPECT_EQ(dft::distances_of(io, false).odist, 200);
  const dft::batch_layout_row fb{2, 0, 100, 200, 0, 0};
  EXPECT_EQ(dft::distances_of(fb, true).idist, 100);
  EXPECT_EQ(dft::distances_of(fb, false).idist, 200);
  EXPECT_EQ(dft::distances_of(fb, false).odist, 100);
}

struct table_row {
  std::int64_t n, s;
  nf::factor_plan plan;
  std::int64_t items, subgroups;
};

// The factor plans, written out from the design table.
const table_row design_table[] = {
    {512, 16, {{4, 4, 4, 8}}, 128, 8},         {1024, 16, {{4, 4, 8, 8}}, 256, 16},
    {2048, 16, {{4, 8, 8, 8}}, 512, 32},       {4096, 16, {{8, 8, 8, 8}}, 1024, 64},
    {8192, 16, {{8, 8, 8, 16}}, 1024, 64},     {16384, 16, {{8, 8, 16, 16}}, 2048, 128},
    {32768, 16, {{8, 16, 16, 16}}, 4096, 256}, {65536, 16, {{16, 16, 16, 16}}, 8192, 512},
    {1024, 32, {{4, 4, 4, 16}}, 128, 4},       {2048, 32, {{4, 4, 8, 16}}, 256, 8},
    {4096, 32, {{4, 4, 16, 16}}, 512, 16},     {8192, 32, {{8, 8, 8, 16}}, 1024, 32},
    {16384, 32, {{8, 8, 16, 16}}, 2048, 64},   {32768, 32, {{8, 16, 16, 16}}, 4096, 128},
    {65536, 32, {{16, 16, 16, 16}}, 8192, 256},
};

TEST(FactorPlans, EveryRowOfTheDesignTable) {
  for (const table_row& row : design_table) {
    nf::factor_plan p{};
    ASSERT_TRUE(nf::find_factor_plan(row.n, row.s, &p)) << row.n << " " << row.s;
    std::int64_t product = 1;
    for (int f = 0; f < nf::factor_count; ++f) {
      EXPECT_EQ(p.fact[f], row.plan.fact[f]) << row.n << " " << row.s << " factor " << f;
      product *= p.fact[f];
    }
    EXPECT_EQ(product, row.n);
    EXPECT_EQ(p.fact[nf::fact3] % (row.s / 2), 0);
    nf::launch_geometry g{};
    ASSERT_TRUE(nf::derive_geometry(row.n, p, row.s, 1 << 20, &g));
    EXPECT_EQ(g.subgroup_count, row.subgroups);
    EXPECT_EQ(g.work_group_size, row.items);
    EXPECT_EQ(g.load_loop_bound, 0);
    EXPECT_EQ(g.load_loop_tail, 0);
    EXPECT_EQ(g.load_store_tail, 0);
  }
}

TEST(FactorPlans, LengthsAndSubGroupsWithoutAPlan) {
  nf::factor_plan p{};
  EXPECT_FALSE(nf::find_factor_plan(512, 32, &p));
  EXPECT_FALSE(nf::find_factor_plan(256, 16, &p));
  EXPECT_FALSE(nf::find_factor_plan(131072, 16, &p));
  EXPECT_FALSE(nf::find_factor_plan(3072, 16, &p));
  EXPECT_FALSE(nf::find_factor_plan(4096, 8, &p));
  EXPECT_FALSE(nf::find_factor_plan(4096, 64, &p));
}

TEST(Geometry, SmallWorkGroupsLoopOverTheColumns) {
  nf::factor_plan p{};
  ASSERT_TRUE(nf::find_factor_plan(2048, 16, &p));
  nf::launch_geometry g{};
  ASSERT_TRUE(nf::derive_geometry(2048, p, 16, 256, &g));
  EXPECT_EQ(g.work_group_size, 256);
  EXPECT_EQ(g.load_loop_bound, 2);
  ASSERT_TRUE(nf::derive_geometry(2048, p, 16, 512, &g));
  EXPECT_EQ(g.work_group_size, 512);
  EXPECT_EQ(g.load_loop_bound, 0);
}

TEST(Geometry, ALimitThatIsNotWholeSubGroupsIsRoundedDown) {
  nf::factor_plan p{};
  ASSERT_TRUE(nf::find_factor_plan(4096, 16, &p));
  nf::launch_geometry g{};
  ASSERT_TRUE(nf::derive_geometry(4096, p, 16, 1000, &g));  // 1024 items
  EXPECT_EQ(g.work_group_size, 992);
  EXPECT_EQ(g.load_loop_bound, 1);
  EXPECT_EQ(g.load_loop_tail, 2);  // 32 items left: two sub-groups
  EXPECT_FALSE(nf::derive_geometry(4096, p, 16, 8, &g));
}

TEST(Acceptance, TheShapesThisBackendServes) {
  hand_made_record h(4096, {4, 0, 0, 4096, 4096});
  EXPECT_TRUE(nf::accepts<double>(&h.r));
  EXPECT_TRUE(nf::accepts<float>(&h.r));
}

TEST(Acceptance, DeclinedShapes) {
  {
    hand_made_record h(4096, {4, 0, 0, 4096, 4096});
    h.length.input = 2;
    EXPECT_FALSE(nf::accepts<double>(&h.r));
  }
  {
    hand_made_record h(4096, {4, 0, 0, 4096, 4096});
    h.length = {4096, 0, 0, 1, 2};  // backward-domain stride 2 applies
    EXPECT_FALSE(nf::accepts<double>(&h.r));
  }
  {
    hand_made_record h(4096, {4, 0, 0, 4096, 4096});
    h.r.out_offset = 1;
    EXPECT_FALSE(nf::accepts<double>(&h.r));
  }
  {
    hand_made_record h(4096, {4, 0, 0, 4096, 4096});
    h.r.work_batch.count = 2;
    h.batch[1] = {2, 0, 0, 16384, 16384};
    EXPECT_FALSE(nf::accepts<double>(&h.r));
  }
  {
    hand_made_record h(4096, {4, 0, 0, 4096, 4096});
    h.r.domain = dft::dfti_real;
    EXPECT_FALSE(nf::accepts<double>(&h.r));
  }
  {
    hand_made_record h(4096, {4, 0, 0, 4096, 4096});
    h.r.fused_twiddle_length = 2;
    EXPECT_FALSE(nf::accepts<double>(&h.r));
  }
}

TEST(Acceptance, FloatTransformFloors) {
  hand_made_record h(1024, {32768, 0, 0, 1024, 1024});
  EXPECT_FALSE(nf::accepts<float>(&h.r));
  EXPECT_TRUE(nf::accepts<double>(&h.r));
  h.batch[0].length = 32769;
  EXPECT_TRUE(nf::accepts<float>(&h.r));
  hand_made_record small(512, {65536, 0, 0, 512, 512});
  EXPECT_FALSE(nf::accepts<float>(&small.r));
  small.batch[0].length = 65537;
  EXPECT_TRUE(nf::accepts<float>(&small.r));
  hand_made_record one(512, {1, 0, 0, 0, 0});
  EXPECT_TRUE(nf::accepts<double>(&one.r));
}

nf::prebuilt_query nivolo_query(std::int64_t n, nf::factor_plan p, nf::direction d) {
  nf::prebuilt_query q;
  q.queue_backend = QEZ_GPU_BACKEND_NIVOLO;
  q.driver_version = "1.6.31294";
  q.length = n;
  for (int f = 0; f < nf::factor_count; ++f) q.fact[f] = p.fact[f];
  q.idist = n;
  q.odist = n;
  q.d = d;
  return q;
}

TEST(PrebuiltKernels, SelectedByQueueDriverPlanAndDistances) {
  const nf::factor_plan p8192{{8, 8, 8, 16}};
  const nf::prebuilt_kernel* k = nf::select_prebuilt_kernel(nivolo_query(8192, p8192, nf::dir_backward));
  ASSERT_NE(k, nullptr);
  EXPECT_STREQ(k->name, "fft8192_n_fact_slm_s_bwd");
  EXPECT_EQ(k->expected_image_bytes, 61056u);
  const nf::factor_plan p4096{{8, 8, 8, 8}};
  k = nf::select_prebuilt_kernel(nivolo_query(4096, p4096, nf::dir_forward));
  ASSERT_NE(k, nullptr);
  EXPECT_STREQ(k->name, "fft4096_n_fact_slm_s_fwd");
  nf::prebuilt_query single = nivolo_query(4096, p4096, nf::dir_backward);
  single.idist = single.odist = 0;
  EXPECT_STREQ(nf::select_prebuilt_kernel(single)->name, "fft4096_n_fact_slm_s_bwd");
}

TEST(PrebuiltKernels, NotSelectedElsewhere) {
  const nf::factor_plan p8192{{8, 8, 8, 16}};
  nf::prebuilt_query q = nivolo_query(8192, p8192, nf::dir_backward);
  q.odist = 2 * 8192;
  EXPECT_EQ(nf::select_prebuilt_kernel(q), nullptr);
  q = nivolo_query(8192, p8192, nf::dir_backward);
  q.driver_version = "1.3.0";
  EXPECT_EQ(nf::select_prebuilt_kernel(q), nullptr);
  q = nivolo_query(8192, p8192, nf::dir_backward);
  q.queue_backend = QEZ_GPU_BACKEND_OPENCL;
  EXPECT_EQ(nf::select_prebuilt_kernel(q), nullptr);
  const nf::factor_plan p4096_32{{4, 4, 16, 16}};
  EXPECT_EQ(nf::select_prebuilt_kernel(nivolo_query(4096, p4096_32, nf::dir_forward)), nullptr);
}

TEST(PrebuiltKernels, AnEntryWithoutImageBytesIsRefused) {
  const nf::factor_plan p8192{{8, 8, 8, 16}};
  const nf::prebuilt_kernel* k = nf::select_prebuilt_kernel(nivolo_query(8192, p8192, nf::dir_forward));
  ASSERT_NE(k, nullptr);
  nf::prebuilt_handle handle;
  EXPECT_NE(nf::load_prebuilt_kernel(*k, nullptr, handle), 0);
  EXPECT_EQ(handle.get(), nullptr);
}

// The device's own binary of a one-kernel program, as an image would carry it.
struct device_binary {
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  explicit device_binary(sycl::queue& queue) {
    namespace gpu = ulmara::qez::gpu;
    int status = 0;
    void* device = gpu::get_device_id(&status, &queue);
    void* context = gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue);
    const char* source = "kernel void prebuilt_stand_in(global int* x) { x[get_global_id(0)] += 1; }";
    cl_program program = gpu::build_ocl_program(static_cast<cl_device_id>(device), static_cast<cl_context>(context),
                                                source, 0, gpu::format_source, "", &queue, "prebuilt_stand_in",
                                                gpu::domain_dft);
    gpu::get_program_binary(&status, program, static_cast<cl_device_id>(device), &bytes, &size);
    gpu::ocl::clReleaseProgram(program);
  }
  ~device_binary() { qez_serv_free(bytes); }
};

// A loaded image's handle goes back to the kernel service with its owner:
// the next load of the same image gets the same pooled handle again
// instead of a new one beside a handle nobody released.
TEST(PrebuiltKernels, ALoadedHandleIsGivenBack) {
  sycl::queue& queue = backend_test::gpu_test_queue();
  const device_binary binary(queue);
  ASSERT_NE(binary.bytes, nullptr);
  nf::prebuilt_kernel k{"prebuilt_stand_in", 64, {4, 4, 4, 1}, nf::dir_forward, binary.size,
                        {binary.size, binary.bytes, nullptr, nullptr}};
  ulmara::qez::gpu::qez_gpu_kernel_struct_t* first = nullptr;
  {
    nf::prebuilt_handle handle;
    ASSERT_EQ(nf::load_prebuilt_kernel(k, &queue, handle), 0);
    ASSERT_NE(handle.kernel(), nullptr);
    first = handle.get();
  }
  nf::prebuilt_handle again;
  ASSERT_EQ(nf::load_prebuilt_kernel(k, &queue, again), 0);
  EXPECT_EQ(again.get(), first);
}

}  // namespace
