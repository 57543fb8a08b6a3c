#include <cmath>
#include <cstring>
#include <limits>

#include "core_test_support.hpp"
#include "dft/gpu/core/backend.hpp"

namespace {

using namespace core_test;

// A backend table that counts how often it is freed and what workspaces it
// is given; the record counts as committed by it.
int frees = 0;
int workspace_status = 0;
void* last_workspace = nullptr;
std::uint32_t last_part = 99;

int counting_free(const backend_table*, DFTI_DESCRIPTOR* r) {
  ++frees;
  r->compute_fwd = r->compute_bwd = nullptr;
  r->commit_status = dfti_uncommitted;
  return 0;
}
int recording_add_workspace(void* workspace, int, std::uint64_t, DFTI_DESCRIPTOR*,
                            std::uint32_t part, void*) {
  last_workspace = workspace;
  last_part = part;
  return workspace_status;
}
int never_commit(const backend_table*, DFTI_DESCRIPTOR*) { return 100; }
int compute_stub(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) { return 0; }

const backend_table counting_table = {never_commit, counting_free, recording_add_workspace};

void pretend_committed(DFTI_DESCRIPTOR* r) {
  r->backend = &counting_table;
  mark_committed(r, compute_stub, compute_stub, 2);
}

class MethodTable : public ::testing::Test {
protected:
  void SetUp() override {
    frees = 0;
    workspace_status = 0;
    last_workspace = nullptr;
    last_part = 99;
    rec_.reset(make_record(dfti_double, dfti_complex, {16, 8}));
  }
  DFTI_DESCRIPTOR* r() { return rec_.get(); }
  const descriptor_methods& m() { return *r()->methods; }

  record_guard rec_;
};

TEST_F(MethodTable, NameIsPaddedWithTheFillByte) {
  char name[10];
  ASSERT_EQ(m().set_name(r(), "2D_R", 4, 32), 0);
  EXPECT_EQ(std::memcmp(r()->name, "2D_R      ", 10), 0);
  ASSERT_EQ(m().set_name(r(), "ABCDEFGHIJKL", 10, 32), 0);
  EXPECT_EQ(std::memcmp(r()->name, "ABCDEFGHIJ", 10), 0);
  std::memset(name, '#', sizeof name);
  ASSERT_EQ(m().get_name(r(), name, 4), 0);
  EXPECT_EQ(std::memcmp(name, "ABCD######", 10), 0);
  ASSERT_EQ(m().get_name(r(), name, 0), 0);
  EXPECT_EQ(name[0], 'A');
  ASSERT_EQ(m().set_name(r(), "xyz", 0, '*'), 0);
  EXPECT_EQ(std::memcmp(r()->name, "**********", 10), 0);
}

TEST_F(MethodTable, ScaleReleasesOnlyOnARealChange) {
  pretend_committed(r());
  ASSERT_EQ(m().set_scale(r(), 1.0, scale_forward), 0);
  EXPECT_EQ(r()->commit_status, dfti_committed);
  EXPECT_EQ(frees, 0);
  ASSERT_EQ(m().set_scale(r(), 0.5, scale_backward), 0);
  EXPECT_EQ(r()->commit_status, dfti_uncommitted);
  EXPECT_EQ(r()->compute_fwd, nullptr);
  EXPECT_EQ(frees, 1);
  double scale = 0;
  ASSERT_EQ(m().get_scale(r(), &scale, scale_backward), 0);
  EXPECT_EQ(scale, 0.5);

  // A NaN never equals anything, itself included: each store releases.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  pretend_committed(r());
  ASSERT_EQ(m().set_scale(r(), nan, scale_forward), 0);
  EXPECT_EQ(frees, 2);
  pretend_committed(r());
  ASSERT_EQ(m().set_scale(r(), nan, scale_forward), 0);
  EXPECT_EQ(frees, 3);
  ASSERT_EQ(m().get_scale(r(), &scale, scale_forward), 0);
  EXPECT_TRUE(std::isnan(scale));
}

TEST_F(MethodTable, ScaleSelectorOtherThanForwardOrBackwardIsRefused) {
  double scale = 7;
  EXPECT_EQ(m().get_scale(r(), &scale, 3), 3);
  EXPECT_EQ(scale, 7);
  EXPECT_EQ(m().set_scale(r(), 2.0, 6), 3);
  EXPECT_EQ(r()->fwd_scale, 1.0);
  EXPECT_EQ(r()->bwd_scale, 1.0);
}

TEST_F(MethodTable, StrideSettersReleaseAndFlagTheirConvention) {
  const std::int64_t strides[] = {3, 1, 16};
  pretend_committed(r());
  ASSERT_EQ(m().set_input_strides(r(), strides), 0);
  EXPECT_EQ(frees, 1);
  EXPECT_EQ(r()->commit_status, dfti_uncommitted);
  EXPECT_EQ(r()->set_flags & set_flag_input_strides, set_flag_input_strides);
  std::int64_t out[3] = {};
  ASSERT_EQ(m().get_input_strides(r(), out), 0);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 16);
}

TEST_F(MethodTable, InputOutputGettersRefuseTheForwardBackwardConvention) {
  const std::int64_t strides[] = {0, 1, 16};
  ASSERT_EQ(m().set_forward_strides(r(), strides), 0);
  std::int64_t out[3] = {-5, -5, -5};
  EXPECT_EQ(m().get_input_strides(r(), out), 3);
  EXPECT_EQ(m().get_output_strides(r(), out), 3);
  EXPECT_EQ(out[0], -5);
  EXPECT_EQ(out[2], -5);
  ASSERT_EQ(m().get_forward_strides(r(), out), 0);
  EXPECT_EQ(out[2], 16);
  ASSERT_EQ(m().get_backward_strides(r(), out), 0);  // never refuses
  EXPECT_EQ(out[2], 0);

  ASSERT_EQ(m().set_backward_distance(r(), 128), 0);
  std::int64_t distance = -1;
  EXPECT_EQ(m().get_input_distance(r(), &distance), 3);
  EXPECT_EQ(m().get_output_distance(r(), &distance), 3);
  EXPECT_EQ(distance, -1);
  ASSERT_EQ(m().get_backward_distance(r(), &distance), 0);
  EXPECT_EQ(distance, 128);
}

TEST_F(MethodTable, DistanceAndCountSettersKeepTheCommittedPlan) {
  pretend_committed(r());
  ASSERT_EQ(m().set_input_distance(r(), 256), 0);
  ASSERT_EQ(m().set_output_distance(r(), 512), 0);
  ASSERT_EQ(m().set_number_of_transforms(r(), 3), 0);
  EXPECT_EQ(r()->commit_status, dfti_committed);
  EXPECT_EQ(frees, 0);
  EXPECT_EQ(r()->set_flags & (set_flag_input_distance | set_flag_output_distance),
            set_flag_input_distance | set_flag_output_distance);
  std::uint64_t count = 0;
  ASSERT_EQ(m().get_number_of_transforms(r(), &count), 0);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(m().set_number_of_transforms(r(), 0), 3);
  ASSERT_EQ(m().get_number_of_transforms(r(), &count), 0);
  EXPECT_EQ(count, 3u);
  std::int64_t distance = 0;
  ASSERT_EQ(m().get_output_distance(r(), &distance), 0);
  EXPECT_EQ(distance, 512);
}

TEST_F(MethodTable, LengthsAndRank) {
  std::int64_t lengths[2] = {};
  ASSERT_EQ(m().get_lengths(r(), lengths), 0);
  EXPECT_EQ(lengths[0], 16);
  EXPECT_EQ(lengths[1], 8);
  std::int64_t rank = 0;
  ASSERT_EQ(m().get_rank(r(), &rank), 0);
  EXPECT_EQ(rank, 2);
}

// Service slots 2 (default/maximum thread count) and 12 (single thread only).
int max_threads_answer = 4;
int single_thread_answer = 0;
int answer_max_threads() { return max_threads_answer; }
int answer_single_thread() { return single_thread_answer; }

TEST_F(MethodTable, ThreadLimitFollowsServiceEntriesTwoAndTwelve) {
  service_table services{};
  services.max_threads = answer_max_threads;
  services.single_thread = answer_single_thread;
  r()->services = &services;

  EXPECT_EQ(m().set_thread_limit(r(), -1), 3);
  ASSERT_EQ(m().set_thread_limit(r(), 6), 0);
  std::int64_t threads = 0;
  ASSERT_EQ(m().get_thread_limit(r(), &threads), 0);
  EXPECT_EQ(threads, 6);

  single_thread_answer = 1;
  ASSERT_EQ(m().get_thread_limit(r(), &threads), 0);
  EXPECT_EQ(threads, 1);
  ASSERT_EQ(m().set_thread_limit(r(), 6), 0);
  EXPECT_EQ(r()->thread_limit, 1);
  single_thread_answer = 0;

  // Committed: the smaller of the effective count and the service maximum.
  pretend_committed(r());
  r()->threads = 8;
  max_threads_answer = 4;
  ASSERT_EQ(m().get_thread_limit(r(), &threads), 0);
  EXPECT_EQ(threads, 4);
  r()->threads = 2;
  ASSERT_EQ(m().get_thread_limit(r(), &threads), 0);
  EXPECT_EQ(threads, 2);
  r()->services = &library_service_table();
}

TEST_F(MethodTable, WorkspaceNeedsACommittedBackend) {
  int workspace = 0;
  EXPECT_EQ(m().set_workspace(r(), &workspace, container_usm), 2);
  pretend_committed(r());
  r()->workspace_internal = 1;
  ASSERT_EQ(m().set_workspace(r(), &workspace, container_usm), 0);
  EXPECT_EQ(last_workspace, &workspace);
  EXPECT_EQ(last_part, workspace_part_both);
  EXPECT_EQ(r()->workspace_kind, container_usm);
  EXPECT_EQ(r()->workspace_internal, 0u);

  workspace_status = 11;
  r()->workspace_kind = 0;
  EXPECT_EQ(m().set_workspace(r(), &workspace, container_buffer), 11);
  EXPECT_EQ(r()->workspace_kind, 0u);
}

TEST_F(MethodTable, CopyHasTheSameLayoutAndNoBackend) {
  const std::int64_t in[] = {0, 1, 20}, out[] = {0, 1, 16};
  ASSERT_EQ(m().set_input_strides(r(), in), 0);
  ASSERT_EQ(m().set_output_strides(r(), out), 0);
  ASSERT_EQ(m().set_input_distance(r(), 200), 0);
  ASSERT_EQ(m().set_number_of_transforms(r(), 5), 0);
  ASSERT_EQ(m().set_scale(r(), 0.25, scale_backward), 0);
  pretend_committed(r());

  record_guard copy;
  ASSERT_EQ(m().copy_descriptor(r(), copy.out()), 0);
  EXPECT_EQ(copy->commit_status, 0u);
  EXPECT_EQ(copy->backend, nullptr);
  EXPECT_EQ(copy->compute_fwd, nullptr);
  EXPECT_EQ(copy->bkd_data, nullptr);
  EXPECT_EQ(records_of(copy->lengths), records_of(r()->lengths));
  EXPECT_EQ(records_of(copy->batch), records_of(r()->batch));
  EXPECT_NE(copy->lengths.records, r()->lengths.records);
  EXPECT_EQ(copy->set_flags & 0x7fe0, r()->set_flags & 0x7fe0);
  EXPECT_EQ(copy->bwd_scale, 0.25);
  EXPECT_EQ(copy->magic, descriptor_magic);
  EXPECT_EQ(copy->methods, r()->methods);
  EXPECT_EQ(copy->backend_list, r()->backend_list);
}

TEST_F(MethodTable, CopyThatRunsOutOfMemoryLeavesNothingBehind) {
  no_injection_at_exit reset;
  const long live = qez_standin_live_allocations();
  for (long skip = 0; skip < 5; ++skip) {
    qez_standin_fail_allocations(skip, 1);
    DFTI_DESCRIPTOR* copy = nullptr;
    EXPECT_EQ(m().copy_descriptor(r(), &copy), 1) << skip;
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(qez_standin_live_allocations(), live) << skip;
  }
}

}  // namespace
