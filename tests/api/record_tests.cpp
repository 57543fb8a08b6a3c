// Descriptor records made by the front end: defaults, dimension order,
// refusals of bad ranks, destruction, and the flat copy round trip.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "dft/api/descriptor_node.hpp"
#include "dft/api/descriptor_state.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace {

namespace dft = ulmara::qez::dft;

// Owns a record made by create_descriptor_node.
struct node {
  DFTI_DESCRIPTOR* record = nullptr;
  std::int64_t status = -1;
  node(std::uint32_t precision, std::uint32_t domain, std::vector<std::int64_t> lengths) {
    status = dft::create_descriptor_node(&record, precision, domain, lengths.size(), lengths.data());
  }
  ~node() {
    if (record != nullptr) dft::dfti_cpu_free_descriptor(&record);
  }
  DFTI_DESCRIPTOR* operator->() const { return record; }
};

TEST(DescriptorRecord, NewRecordHoldsTheDefaults) {
  node n(35, 32, {64});
  ASSERT_EQ(n.status, 0);
  const DFTI_DESCRIPTOR& r = *n.record;
  EXPECT_EQ(r.magic, 0x544644u);
  EXPECT_EQ(r.commit_status, 31u);
  EXPECT_EQ(r.precision, 35u);
  EXPECT_EQ(r.domain, 32u);
  EXPECT_EQ(r.complex_storage, 39u);
  EXPECT_EQ(r.real_storage, 42u);
  EXPECT_EQ(r.conjugate_even_storage, 39u);
  EXPECT_EQ(r.placement, 43u);
  EXPECT_EQ(r.packed_format, 57u);
  EXPECT_EQ(r.workspace_use, 51u);
  EXPECT_EQ(r.ordering, 48u);
  EXPECT_EQ(r.transpose, 53u);
  EXPECT_EQ(r.user_threads, 1u);
  EXPECT_EQ(r.options, 0u);
  EXPECT_EQ(r.fwd_scale, 1.0);
  EXPECT_EQ(r.bwd_scale, 1.0);
  EXPECT_EQ(r.set_flags & 0x1fe0u, 0u);
  EXPECT_EQ(r.queue, nullptr);
  EXPECT_EQ(r.workspace_internal, 1u);
  EXPECT_EQ(r.workspace_bytes[0], 0u);
  EXPECT_EQ(r.workspace_bytes[1], 0u);
  ASSERT_EQ(r.batch.count, 1);
  EXPECT_EQ(r.batch.records[0].length, 1);
  EXPECT_EQ(r.batch.records[0].input, 0);
  EXPECT_EQ(r.batch.records[0].forward, 0);
  EXPECT_EQ(r.batch.records[0].backward, 0);
  EXPECT_EQ(r.work_lengths.count, 1);
  EXPECT_EQ(r.work_batch.count, 1);
  ASSERT_EQ(r.lengths.count, 1);
  EXPECT_EQ(r.lengths.records[0].length, 64);
  EXPECT_EQ(r.lengths.records[0].forward, 1);
  EXPECT_EQ(r.lengths.records[0].backward, 1);
  EXPECT_EQ(r.lengths.records[0].input, 0);
  EXPECT_EQ(r.lengths.records[0].output, 0);
}

struct stride_case {
  const char* name;
  std::uint32_t domain;
  std::vector<std::int64_t> lengths;          // caller order
  std::vector<std::int64_t> stored_lengths;   // fastest first
  std::vector<std::int64_t> forward_strides;  // fastest first
  std::vector<std::int64_t> backward_strides;
};

class DefaultStrides : public ::testing::TestWithParam<stride_case> {};

TEST_P(DefaultStrides, FastestDimensionFirst) {
  const stride_case& c = GetParam();
  node n(36, c.domain, c.lengths);
  ASSERT_EQ(n.status, 0);
  ASSERT_EQ(n->lengths.count, static_cast<std::int32_t>(c.lengths.size()));
  for (std::size_t k = 0; k < c.lengths.size(); ++k) {
    EXPECT_EQ(n->lengths.records[k].length, c.stored_lengths[k]) << "dimension " << k;
    EXPECT_EQ(n->lengths.records[k].forward, c.forward_strides[k]) << "dimension " << k;
    EXPECT_EQ(n->lengths.records[k].backward, c.backward_strides[k]) << "dimension " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Records, DefaultStrides,
    ::testing::Values(stride_case{"Complex4x6", 32, {4, 6}, {6, 4}, {1, 6}, {1, 6}},
                      stride_case{"Real5x7", 33, {5, 7}, {7, 5}, {1, 8}, {1, 4}},
                      stride_case{"Real3x5x8", 33, {3, 5, 8}, {8, 5, 3}, {1, 10, 50}, {1, 5, 25}},
                      stride_case{"Complex2x3x4", 32, {2, 3, 4}, {4, 3, 2}, {1, 4, 12}, {1, 4, 12}}),
    [](const ::testing::TestParamInfo<stride_case>& i) { return std::string(i.param.name); });

TEST(DescriptorRecord, RankZeroIsAnInvalidArgument) {
  DFTI_DESCRIPTOR* r = nullptr;
  try {
    dft::create_descriptor_node(&r, 36, 32, 0, nullptr);
    FAIL() << "no exception";
  } catch (const ulmara::qez::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "ulmara::qez::dft::descriptor constructor: invalid argument: the dimension must "
                 "be at least 1.");
  }
  EXPECT_EQ(r, nullptr);
}

TEST(DescriptorRecord, RankFourIsUnimplemented) {
  DFTI_DESCRIPTOR* r = nullptr;
  const std::int64_t lengths[4] = {2, 2, 2, 2};
  try {
    dft::create_descriptor_node(&r, 35, 33, 4, lengths);
    FAIL() << "no exception";
  } catch (const ulmara::qez::unimplemented& e) {
    EXPECT_STREQ(e.what(),
                 "ulmara::qez::dft::descriptor constructor: unimplemented functionality: "
                 "dimension larger than 3 is not implemented.");
  }
}

TEST(DescriptorRecord, NullHandleAndFailedCreation) {
  const std::int64_t lengths[1] = {8};
  EXPECT_EQ(dft::create_descriptor_node(nullptr, 35, 32, 1, lengths), 3);
  DFTI_DESCRIPTOR* r = nullptr;
  const std::int64_t zero[1] = {0};
  EXPECT_EQ(dft::create_descriptor_node(&r, 35, 32, 1, zero), 2) << "the engine refuses length 0";
  EXPECT_EQ(r, nullptr);
}

TEST(DescriptorRecord, CreationReplacesAnEarlierRecord) {
  DFTI_DESCRIPTOR* r = nullptr;
  const std::int64_t a[1] = {8}, b[2] = {3, 5};
  ASSERT_EQ(dft::create_descriptor_node(&r, 35, 32, 1, a), 0);
  ASSERT_EQ(dft::create_descriptor_node(&r, 36, 33, 2, b), 0);
  EXPECT_EQ(r->precision, 36u);
  EXPECT_EQ(r->lengths.count, 2);
  EXPECT_EQ(dft::dfti_cpu_free_descriptor(&r), 0);
}

TEST(DescriptorRecord, FreeStatuses) {
  EXPECT_EQ(dft::dfti_cpu_free_descriptor(nullptr), 3);
  DFTI_DESCRIPTOR* r = nullptr;
  EXPECT_EQ(dft::free_cpu_descriptor(&r), 5);
  DFTI_DESCRIPTOR fake{};
  DFTI_DESCRIPTOR* p = &fake;
  EXPECT_EQ(dft::dfti_cpu_free_descriptor(&p), 5) << "no magic";
  const std::int64_t l[1] = {8};
  ASSERT_EQ(dft::create_descriptor_node(&r, 35, 32, 1, l), 0);
  EXPECT_EQ(dft::free_cpu_descriptor(&r), 0);
  EXPECT_EQ(r, nullptr);
}

// ---------------------------------------------------------------------------
// Flat copy.

TEST(FlatCopy, FreshRecordFlattens) {
  node n(35, 33, {6, 10});
  dft::sycl_descriptor flat{};
  EXPECT_EQ(dft::to_sycl_descriptor(n.record, &flat), 0);
  EXPECT_EQ(flat.magic, 0x544644u);
  EXPECT_EQ(flat.lengths.count, 2);
  EXPECT_EQ(flat.lengths.records[0].length, 10);
}

TEST(FlatCopy, BothConventionsCompleteIsRefused) {
  node n(35, 32, {6, 10});
  for (int k = 0; k < 2; ++k) {
    n->lengths.records[k].input = 1 + k;
    n->lengths.records[k].output = 1 + k;
  }
  dft::sycl_descriptor flat{};
  EXPECT_EQ(dft::to_sycl_descriptor(n.record, &flat), 5);
}

TEST(FlatCopy, NeitherConventionCompleteIsRefused) {
  node n(35, 32, {6, 10});
  n->lengths.records[1].forward = 0;  // dimension 1 has neither pair complete
  dft::sycl_descriptor flat{};
  EXPECT_EQ(dft::to_sycl_descriptor(n.record, &flat), 5);
}

TEST(FlatCopy, RecordWithoutDimensionsIsRefused) {
  node n(35, 32, {6});
  n->lengths.count = 0;
  dft::sycl_descriptor flat{};
  EXPECT_EQ(dft::to_sycl_descriptor(n.record, &flat), 5);
  n->lengths.count = 1;
}

TEST(FlatCopy, RoundTripReproducesEveryCarriedField) {
  node n(36, 32, {3, 4, 5});
  DFTI_DESCRIPTOR& r = *n.record;
  const std::int64_t big = (std::int64_t{1} << 31) + 12345;  // beyond 32 bits
  r.first_count = (std::int64_t{1} << 33) + 3;
  r.complex_storage = 42;
  r.real_storage = 41;
  r.conjugate_even_storage = 40;
  r.placement = 44;
  r.packed_format = 55;
  r.workspace_use = 52;
  r.ordering = 49;
  r.transpose = 50;
  r.in_offset = big;
  r.out_offset = -big;
  r.fwd_offset = big * 3;
  r.bwd_offset = 7;
  r.first_in_distance = big + 1;
  r.first_out_distance = -(big + 2);
  r.options = 0x10;
  r.data_arrays = 2;
  r.user_threads = 5;
  r.thread_limit = 6;
  r.set_flags |= 0x80 | 0x1000 | 0x4000;
  r.fwd_scale = 0.125;
  r.bwd_scale = -3.5;
  r.batch.records[0] = {9, 0, 0, 70, 80};
  for (int k = 0; k < 3; ++k) r.lengths.records[k].backward += 100 * (k + 1);

  dft::sycl_descriptor flat{};
  ASSERT_EQ(dft::to_sycl_descriptor(n.record, &flat), 0);
  DFTI_DESCRIPTOR* copy = nullptr;
  ASSERT_EQ(dft::from_sycl_descriptor(&copy, &flat), 0);
  ASSERT_NE(copy, nullptr);
  const DFTI_DESCRIPTOR& c = *copy;
  EXPECT_EQ(c.precision, 36u);
  EXPECT_EQ(c.domain, 32u);
  EXPECT_EQ(c.first_count, r.first_count);
  EXPECT_EQ(c.complex_storage, 42u);
  EXPECT_EQ(c.real_storage, 41u);
  EXPECT_EQ(c.conjugate_even_storage, 40u);
  EXPECT_EQ(c.placement, 44u);
  EXPECT_EQ(c.packed_format, 55u);
  EXPECT_EQ(c.workspace_use, 52u);
  EXPECT_EQ(c.ordering, 49u);
  EXPECT_EQ(c.transpose, 50u);
  EXPECT_EQ(c.in_offset, big);
  EXPECT_EQ(c.out_offset, -big);
  EXPECT_EQ(c.fwd_offset, big * 3);
  EXPECT_EQ(c.bwd_offset, 7);
  EXPECT_EQ(c.first_in_distance, big + 1);
  EXPECT_EQ(c.first_out_distance, -(big + 2));
  EXPECT_EQ(c.options, 0x10u);
  EXPECT_EQ(c.data_arrays, 2u);
  EXPECT_EQ(c.magic, 0x544644u);
  EXPECT_EQ(c.user_threads, 5u);
  EXPECT_EQ(c.thread_limit, 6);
  EXPECT_EQ(c.set_flags & 0x7fe0u, 0x80u | 0x1000u | 0x4000u);
  EXPECT_EQ(c.fwd_scale, 0.125);
  EXPECT_EQ(c.bwd_scale, -3.5);
  ASSERT_EQ(c.lengths.count, 3);
  ASSERT_EQ(c.work_lengths.count, 3);
  ASSERT_EQ(c.batch.count, 1);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(std::memcmp(&c.lengths.records[k], &r.lengths.records[k], sizeof(dft::dim_record)), 0);
    EXPECT_EQ(c.work_lengths.records[k].length, r.work_lengths.records[k].length);
  }
  EXPECT_EQ(std::memcmp(&c.batch.records[0], &r.batch.records[0], sizeof(dft::dim_record)), 0);
  EXPECT_EQ(dft::dfti_cpu_free_descriptor(&copy), 0);
}

TEST(FlatCopy, RebuildingReplacesTheEarlierRecordAndRefusesForeignCopies) {
  node n(35, 33, {12});
  dft::sycl_descriptor flat{};
  ASSERT_EQ(dft::to_sycl_descriptor(n.record, &flat), 0);
  DFTI_DESCRIPTOR* copy = nullptr;
  ASSERT_EQ(dft::from_sycl_descriptor(&copy, &flat), 0);
  ASSERT_EQ(dft::from_sycl_descriptor(&copy, &flat), 0) << "the first copy is destroyed";
  flat.magic = 0;
  DFTI_DESCRIPTOR* none = nullptr;
  EXPECT_EQ(dft::from_sycl_descriptor(&none, &flat), 5);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(dft::from_sycl_descriptor(nullptr, &flat), 3);
  EXPECT_EQ(dft::dfti_cpu_free_descriptor(&copy), 0);
}

}  // namespace

namespace {

TEST(MovedFromRefusal, NamesTheOperation) {
  try {
    ulmara::qez::dft::ensure_initialized(nullptr, "commit");
    FAIL() << "no exception";
  } catch (const ulmara::qez::uninitialized& e) {
    EXPECT_STREQ(e.what(),
                 "ulmara::qez::dft::commit: uninitialized object: This moved-from descriptor "
                 "must be re-assigned before reuse.");
  }
  DFTI_DESCRIPTOR present{};
  EXPECT_NO_THROW(ulmara::qez::dft::ensure_initialized(&present, "set_value"));
}

}  // namespace
