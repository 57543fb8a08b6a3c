// Acceptance and configuration of the small multi-dimensional backend under
// the GPU profile and overrides of the CTest entry (see CMakeLists.txt):
// records bound to the real rank-1 list, where the backend stands first.
#include <gtest/gtest.h>

#include <sycl/sycl.hpp>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/small_md/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"

namespace {

namespace qd = ulmara::qez::dft;
namespace smd = ulmara::qez::dft::small_md;

sycl::queue& test_queue() {
  static sycl::queue* q = new sycl::queue(sycl::gpu_selector_v);
  return *q;
}

struct record_holder {
  explicit record_holder(std::int64_t n, std::int64_t batch = 1) {
    EXPECT_EQ(qd::create_child_descriptor_r2c_1d_double(&r, n, nullptr), 0);
    r->queue = &test_queue();
    r->placement = qd::dfti_not_inplace;
    r->workspace_internal = 1;
    EXPECT_EQ(r->methods->set_number_of_transforms(r, batch), 0);
    EXPECT_EQ(r->methods->set_forward_distance(r, n), 0);
    EXPECT_EQ(r->methods->set_backward_distance(r, n / 2 + 1), 0);
  }
  ~record_holder() { r->free(r, r); }
  DFTI_DESCRIPTOR* r = nullptr;
};

const qd::backend_table& mine() { return qd::dft_small_md_gpu_bkd_table_double; }

#if defined(SMALL_MD_EXPECT_DECLINE_ALL)
TEST(SmallMdAcceptance, LargestSubGroupEightDeclinesEverything) {
  record_holder h(64, 4);
  ASSERT_EQ(h.r->methods->commit(h.r), 0);
  EXPECT_NE(h.r->backend, &mine());
  EXPECT_EQ(mine().bkd_commit(&mine(), h.r), 100);
}
#elif defined(SMALL_MD_EXPECT_INIT_STATUS)
TEST(SmallMdAcceptance, UnsupportedGeometryHandsOn) {
  record_holder h(64, 4);
  ASSERT_EQ(h.r->methods->commit(h.r), 0);
  EXPECT_NE(h.r->backend, &mine());
  EXPECT_EQ(mine().bkd_commit(&mine(), h.r), SMALL_MD_EXPECT_INIT_STATUS);
  EXPECT_EQ(h.r->bkd_data, nullptr);
}
#else
TEST(SmallMdAcceptance, TakesSmallRealTransformWithDeviceGeometry) {
  record_holder h(64, 4);
  ASSERT_EQ(h.r->methods->commit(h.r), 0);
  ASSERT_EQ(h.r->backend, &mine());
  const smd::block& b = *static_cast<const smd::block*>(h.r->bkd_data);
#if defined(SMALL_MD_EXPECT_SUB_SLICES)
  EXPECT_EQ(b.geometry.sub_slice_count, SMALL_MD_EXPECT_SUB_SLICES);
  EXPECT_EQ(b.geometry.threads_per_sub_slice, SMALL_MD_EXPECT_SUB_SLICE_THREADS);
#else
  // Gulon: 512 EUs, 16 per sub-slice, 8 threads each.
  EXPECT_EQ(b.geometry.sub_slice_count, 32);
  EXPECT_EQ(b.geometry.threads_per_sub_slice, 128);
  EXPECT_EQ(b.geometry.largest_sub_group_size, 32);
#endif
  EXPECT_EQ(h.r->threads, 1);
  EXPECT_EQ(h.r->data_arrays, 2u);
  // Rows of 64 reals, 32 complex points: at most 64 per factor.
  EXPECT_EQ(smd::c2c_length(b.config), 32);
}

TEST(SmallMdAcceptance, LengthAndParityLimits) {
  record_holder h(64);
  ASSERT_EQ(h.r->methods->commit(h.r), 0);
  qd::dim_record& d0 = h.r->work_lengths.records[0];
  d0.length = std::int64_t{1} << 25;
  EXPECT_EQ(smd::acceptance(h.r), 0);
  d0.length = (std::int64_t{1} << 25) + 2;
  EXPECT_EQ(smd::acceptance(h.r), 100);
  d0.length = 63;
  EXPECT_EQ(smd::acceptance(h.r), 100);
  d0.length = 64;
  h.r->domain = 34;
  EXPECT_EQ(smd::acceptance(h.r), 5);
  h.r->domain = qd::dfti_real;
  h.r->in_offset = 1;
  EXPECT_EQ(smd::acceptance(h.r), 100);
  h.r->in_offset = 0;
}

TEST(SmallMdAcceptance, FreeOnAnotherBackendsRecordIs7) {
  record_holder h(64);
  ASSERT_EQ(h.r->methods->commit(h.r), 0);
  ASSERT_EQ(h.r->backend, &mine());
  EXPECT_EQ(qd::dft_r2c_1d_main_gpu_bkd_table_double.bkd_free(&qd::dft_r2c_1d_main_gpu_bkd_table_double, h.r), 7);
}

TEST(SmallMdAcceptance, OddLengthGoesToTheNextBackend) {
  record_holder h(63);
  ASSERT_EQ(h.r->methods->commit(h.r), 0);
  EXPECT_EQ(h.r->backend, &qd::dft_r2c_1d_main_gpu_bkd_table_double);
}
#endif

}  // namespace
