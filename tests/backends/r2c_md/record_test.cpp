// The child-sharing comparison on child records, and the statuses of the
// composite backend's entries that a public call cannot reach.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_md/plan.hpp"
#include "dft/gpu/core/child_sharing.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "tests/backends/r2c_md/md_case.hpp"

namespace r2c_md_test {
namespace {

namespace qd = ulmara::qez::dft;

struct child_pair {
  DFTI_DESCRIPTOR* a = nullptr;
  DFTI_DESCRIPTOR* b = nullptr;
  child_pair() {
    EXPECT_EQ(qd::create_child_descriptor_c2c_1d_double(&a, 16, nullptr), 0);
    EXPECT_EQ(qd::create_child_descriptor_c2c_1d_double(&b, 16, nullptr), 0);
  }
  ~child_pair() {
    a->free(a, a);
    b->free(b, b);
  }
};

TEST(CompareDescriptors, AlikeRecordsCompareEqualWhateverTheirNameOrQueue) {
  child_pair p;
  EXPECT_EQ(qd::compare_descriptors(p.a, p.b), 1);
  p.a->methods->set_name(p.a, "first", 5, ' ');
  p.b->queue = &test_queue();
  EXPECT_EQ(qd::compare_descriptors(p.a, p.b), 1);
  EXPECT_EQ(qd::compare_descriptors(p.a, p.a), 0);
  EXPECT_EQ(qd::compare_descriptors(p.a, nullptr), 0);
  EXPECT_EQ(qd::compare_descriptors(nullptr, p.b), 0);
}

TEST(CompareDescriptors, OptionBitScaleStrideOrCountMakesThemDiffer) {
  {
    child_pair p;
    p.b->options = qd::option_destroy_input;
    EXPECT_EQ(qd::compare_descriptors(p.a, p.b), 0);
  }
  {
    child_pair p;
    p.b->bwd_scale = 0.5;
    EXPECT_EQ(qd::compare_descriptors(p.a, p.b), 0);
  }
  {
    child_pair p;
    p.a->fwd_scale = p.b->fwd_scale = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(qd::compare_descriptors(p.a, p.b), 0);
  }
  {
    child_pair p;
    p.a->fwd_scale = 0.0;
    p.b->fwd_scale = -0.0;
    EXPECT_EQ(qd::compare_descriptors(p.a, p.b), 1);
  }
  {
    child_pair p;
    p.b->batch.records[1].forward = 3;
    EXPECT_EQ(qd::compare_descriptors(p.a, p.b), 0);
  }
  {
    child_pair p;
    p.b->batch.count = 2;  // fewer records: never equal, nothing read past them
    EXPECT_EQ(qd::compare_descriptors(p.a, p.b), 0);
    p.b->batch.count = 7;
  }
}

// A packed 2D layout in the caller's USM workspace: backward on buffer data
// finds no temp of its kind and says so before submitting anything.
TEST(CompositeEntries, BufferDataWithUsmWorkspaceInTempCaseIsNoWorkspace) {
  const md_config c{precision::double_precision, {4, 6}, 1, false, workspace::external_usm, 1.0, 1.0, {}, {}, 0, 0};
  const md_plan plan(c);
  ASSERT_TRUE(accepted_by_composite(plan.record(), c));
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_EQ(static_cast<const qd::r2c_md::block*>(r->bkd_data)->layout, 2);
  sycl::buffer<char, 1> in{sycl::range<1>(16 * 4 * 4)}, out{sycl::range<1>(8 * 4 * 6)};
  std::uint64_t kind = qd::container_buffer;
  EXPECT_EQ(r->compute_bwd(r, &in, &out, nullptr, &kind, nullptr), qd::status_no_workspace);
  // USM data with the USM workspace runs, and gives the right numbers.
  EXPECT_WITHIN_BOUNDS(plan.backward(container::usm), "backward usm");
}

// The forward direction alone: no backward children, no temp, and a backward
// call is refused rather than run on missing children.
TEST(CompositeEntries, ForwardOnlyRecordHasNoBackwardChildren) {
  const md_config c{precision::double_precision, {4, 6}, 1, false, workspace::internal, 1.0, 1.0, {}, {}, 0, 0};
  const md_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  r->directions = qd::directions_forward;
  ASSERT_EQ(r->methods->commit(r), 0);
  ASSERT_TRUE(accepted_by_composite(r, c));
  const auto* b = static_cast<const qd::r2c_md::block*>(r->bkd_data);
  ASSERT_NE(b->children[qd::r2c_md::forward_real], nullptr);
  EXPECT_EQ(b->children[qd::r2c_md::backward_real], nullptr);
  EXPECT_EQ(b->children[qd::r2c_md::backward_complex], nullptr);
  EXPECT_EQ(std::string(b->children[qd::r2c_md::forward_real]->name, 6), "2D_R2C");
  EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), "forward usm");
  std::uint64_t kind = qd::container_usm;
  EXPECT_NE(r->compute_bwd(r, nullptr, nullptr, nullptr, &kind, nullptr), 0);
}

// The planner fuzzer's input fftw_planner_fuzzer/r2c-md-stride-products: a
// real stride whose products with the lengths leave 64 bits. Its byte
// offsets cannot be formed, so the GPU commit refuses it before any backend
// forms those products.
TEST(CompositeLayout, StrideProductsBeyondSixtyFourBitsAreRefused) {
  const std::int64_t huge = 7134266967606821376;
  const md_config c{precision::double_precision, {2, 114}, 1, false, workspace::internal, 1.0, 1.0,
                    {huge, 114}, {1, 107}, 1, 1};
  EXPECT_THROW(md_plan{c}, ulmara::qez::unimplemented);
}

}  // namespace
}  // namespace r2c_md_test
