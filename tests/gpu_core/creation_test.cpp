#include "core_test_support.hpp"
#include "qez_service.h"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/descriptor_methods.hpp"

namespace {

using namespace core_test;

void expect_created_defaults(const DFTI_DESCRIPTOR* r) {
  EXPECT_EQ(r->commit_status, dfti_uncommitted);
  EXPECT_EQ(r->magic, descriptor_magic);
  EXPECT_EQ(r->fwd_scale, 1.0);
  EXPECT_EQ(r->bwd_scale, 1.0);
  EXPECT_EQ(r->complex_storage, dfti_complex_complex);
  EXPECT_EQ(r->real_storage, dfti_real_real);
  EXPECT_EQ(r->conjugate_even_storage, dfti_complex_complex);
  EXPECT_EQ(r->placement, dfti_inplace);
  EXPECT_EQ(r->packed_format, dfti_cce_format);
  EXPECT_EQ(r->workspace_use, dfti_allow);
  EXPECT_EQ(r->ordering, dfti_ordered);
  EXPECT_EQ(r->transpose, dfti_none);
  EXPECT_EQ(r->directions, directions_both);
  EXPECT_EQ(r->workspace_internal, 0u);
  EXPECT_EQ(r->thread_limit, 0);
  EXPECT_EQ(r->queue, nullptr);
  EXPECT_EQ(r->set_flags & explicit_layout_flags, 0u);
  EXPECT_EQ(r->methods, &descriptor_method_table);
  EXPECT_EQ(r->release, release_backend);
  EXPECT_EQ(r->free, free_descriptor);
  ASSERT_EQ(r->batch.count, 7);
  for (std::int32_t k = 0; k < 7; ++k) EXPECT_EQ(r->batch.records[k], (dim_record{1, 0, 0, 0, 0}));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(r) % 64, 0u);
}

struct child_case {
  const char* name;
  int (*create)(DFTI_DESCRIPTOR**);
  std::uint32_t precision, domain;
  backend_list (*list)();
  std::vector<std::int64_t> lengths;
};

int c2c_1d_double(DFTI_DESCRIPTOR** out) { return create_child_descriptor_c2c_1d_double(out, 8192, nullptr); }
int c2c_1d_float(DFTI_DESCRIPTOR** out) { return create_child_descriptor_c2c_1d_float(out, 100, nullptr); }
int r2c_1d_double(DFTI_DESCRIPTOR** out) { return create_child_descriptor_r2c_1d_double(out, 64, nullptr); }
int r2c_1d_float(DFTI_DESCRIPTOR** out) { return create_child_descriptor_r2c_1d_float(out, 30, nullptr); }
const std::int64_t md_lengths[] = {12, 5, 3};
int r2c_md_double(DFTI_DESCRIPTOR** out) { return create_child_descriptor_r2c_md_double(out, 3, md_lengths, nullptr); }
int r2c_md_float(DFTI_DESCRIPTOR** out) { return create_child_descriptor_r2c_md_float(out, 2, md_lengths, nullptr); }

void PrintTo(const child_case& c, std::ostream* os) { *os << c.name; }

class ChildCreators : public ::testing::TestWithParam<child_case> {};

TEST_P(ChildCreators, DefaultsAndBoundList) {
  const child_case& c = GetParam();
  record_guard r;
  ASSERT_EQ(c.create(r.out()), 0);
  expect_created_defaults(r.get());
  EXPECT_EQ(r->precision, c.precision);
  EXPECT_EQ(r->domain, c.domain);
  EXPECT_EQ(r->backend_list, c.list());
  EXPECT_EQ(r->created_rank, static_cast<std::int32_t>(c.lengths.size()));
  ASSERT_EQ(r->lengths.count, static_cast<std::int32_t>(c.lengths.size()));
  for (std::size_t k = 0; k < c.lengths.size(); ++k)
    EXPECT_EQ(r->lengths.records[k], (dim_record{c.lengths[k], 0, 0, 0, 0}));
  EXPECT_EQ(records_of(r->work_lengths), records_of(r->lengths));
  EXPECT_EQ(records_of(r->work_batch), records_of(r->batch));
  EXPECT_NE(r->services, nullptr);
  EXPECT_NE(r->services->cache_size, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    AllSix, ChildCreators,
    ::testing::Values(
        child_case{"c2c_1d_double", c2c_1d_double, dfti_double, dfti_complex, backend_list_c2c_1d_double, {8192}},
        child_case{"c2c_1d_float", c2c_1d_float, dfti_single, dfti_complex, backend_list_c2c_1d_float, {100}},
        child_case{"r2c_1d_double", r2c_1d_double, dfti_double, dfti_real, backend_list_r2c_1d_double, {64}},
        child_case{"r2c_1d_float", r2c_1d_float, dfti_single, dfti_real, backend_list_r2c_1d_float, {30}},
        child_case{"r2c_md_double", r2c_md_double, dfti_double, dfti_real, backend_list_r2c_md_double, {12, 5, 3}},
        child_case{"r2c_md_float", r2c_md_float, dfti_single, dfti_real, backend_list_r2c_md_float, {12, 5}}),
    [](const ::testing::TestParamInfo<child_case>& info) { return std::string(info.param.name); });

TEST(ChildCreation, RunningOutOfMemoryLeavesNothingAndKeepsTheHandle) {
  no_injection_at_exit reset;
  const long live = qez_standin_live_allocations();
  DFTI_DESCRIPTOR* sentinel = reinterpret_cast<DFTI_DESCRIPTOR*>(0x1234);
  // Record, lengths, batch, working lengths, working batch.
  for (long skip = 0; skip < 5; ++skip) {
    DFTI_DESCRIPTOR* handle = sentinel;
    qez_standin_fail_allocations(skip, 1);
    EXPECT_EQ(create_child_descriptor_c2c_1d_float(&handle, 64, nullptr), 1) << skip;
    EXPECT_EQ(handle, sentinel);
    EXPECT_EQ(qez_standin_live_allocations(), live) << skip;
  }
}

// A backend that counts its frees, standing for whatever committed a record.
int frees = 0;
int count_free(const backend_table*, DFTI_DESCRIPTOR* r) {
  ++frees;
  r->commit_status = dfti_uncommitted;
  return 0;
}
int no_commit(const backend_table*, DFTI_DESCRIPTOR*) { return 100; }
int compute_stub(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) { return 0; }
const backend_table counting = {no_commit, count_free, shared_no_op_add_workspace};

int cleanups = 0;
void count_cleanup(DFTI_DESCRIPTOR*) { ++cleanups; }

TEST(ReleaseBackend, FreesTheCommittedBackendOnce) {
  frees = 0;
  record_guard r;
  ASSERT_EQ(create_child_descriptor_c2c_1d_float(r.out(), 64, nullptr), 0);
  r->backend = &counting;
  mark_committed(r.get(), compute_stub, compute_stub, 1);
  r->set_flags |= set_flag_released;
  r->release(r.get(), nullptr);
  EXPECT_EQ(frees, 1);
  EXPECT_EQ(r->commit_status, dfti_uncommitted);
  EXPECT_EQ(r->compute_fwd, nullptr);
  EXPECT_EQ(r->compute_bwd, nullptr);
  EXPECT_EQ(r->backend, nullptr);
  EXPECT_EQ(r->set_flags & set_flag_released, 0u);
  r->release(r.get(), nullptr);
  EXPECT_EQ(frees, 1);
}

TEST(ReleaseBackend, RunsThePendingCleanupOnce) {
  cleanups = 0;
  record_guard r;
  ASSERT_EQ(create_child_descriptor_c2c_1d_double(r.out(), 8, nullptr), 0);
  r->cleanup_fn = count_cleanup;
  r->cleanup_arg = 1;
  r->release(r.get(), nullptr);
  r->release(r.get(), nullptr);
  EXPECT_EQ(cleanups, 1);
  EXPECT_EQ(r->cleanup_fn, nullptr);
}

TEST(ReleaseBackend, DestroysTheLinkedDescriptorAndFreesItsBackend) {
  no_injection_at_exit reset;
  frees = 0;
  const long live = qez_standin_live_allocations();
  {
    record_guard parent;
    ASSERT_EQ(create_child_descriptor_c2c_1d_float(parent.out(), 64, nullptr), 0);
    DFTI_DESCRIPTOR* child = nullptr;
    ASSERT_EQ(create_child_descriptor_c2c_1d_float(&child, 8, nullptr), 0);
    child->backend = &counting;
    parent->linked_descriptor = child;
    parent->release(parent.get(), nullptr);
    EXPECT_EQ(parent->linked_descriptor, nullptr);
    EXPECT_EQ(frees, 1);
  }
  EXPECT_EQ(qez_standin_live_allocations(), live);
}

TEST(ReleaseBackend, ClearsTheSharedStateOfTheLastChainedRecord) {
  record_guard first, last;
  ASSERT_EQ(create_child_descriptor_c2c_1d_float(first.out(), 4, nullptr), 0);
  ASSERT_EQ(create_child_descriptor_c2c_1d_float(last.out(), 4, nullptr), 0);
  first->chain_next = last.get();
  last->shared_152 = qez_serv_malloc(32, 64);
  last->shared_136 = 5;
  first->shared_680 = 9;
  first->release(first.get(), nullptr);
  EXPECT_EQ(last->shared_152, nullptr);
  EXPECT_EQ(last->shared_136, 0u);
  EXPECT_EQ(first->shared_680, 0u);
  first->chain_next = nullptr;
}

}  // namespace

#include "qez_dft_engine.h"

namespace {

// The threading layer's blessing gives child records the service queries
// the core calls at commit.
TEST(ChildCreation, BlessingFillsTheServiceQueriesCommitUses) {
  record_guard r;
  ASSERT_EQ(create_child_descriptor_c2c_1d_double(r.out(), 64, nullptr), 0);
  ASSERT_EQ(qez_dft_bless_node_thr(r.get()), 0);
  ASSERT_NE(r->services, nullptr);
  ASSERT_NE(r->services->thread_query, nullptr);
  ASSERT_NE(r->services->max_threads, nullptr);
  EXPECT_NE(r->services->cache_size, nullptr);
  r->methods->commit(r.get());
  EXPECT_EQ(r->threads, r->services->max_threads());
  EXPECT_EQ(r->service_count, r->services->thread_query());
}

}  // namespace
