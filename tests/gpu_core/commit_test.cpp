#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "core_test_support.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/commit_policies.hpp"

namespace {

using namespace core_test;

int commit(DFTI_DESCRIPTOR* r) { return r->methods->commit(r); }

std::vector<std::int64_t> strides_of(const DFTI_DESCRIPTOR* r, dim_field side) {
  std::vector<std::int64_t> out;
  for (std::int32_t k = 0; k < r->lengths.count; ++k) out.push_back(dim_value(r->lengths.records[k], side));
  return out;
}

using strides = std::vector<std::int64_t>;

// --- layouts -----------------------------------------------------------------

TEST(GpuCommit, ForwardOnlyStridesOfInPlaceComplexAreCopiedToBackward) {
  record_guard r(make_record(dfti_single, dfti_complex, {64, 32}));
  const std::int64_t forward[] = {0, 1, 64};
  ASSERT_EQ(r->methods->set_forward_strides(r.get(), forward), 0);
  EXPECT_EQ(commit(r.get()), 3);  // supported, and no backend takes it yet
  EXPECT_EQ(strides_of(r.get(), dim_backward), (strides{1, 64}));
  EXPECT_EQ(strides_of(r.get(), dim_forward), (strides{1, 64}));
  EXPECT_EQ(r->set_flags & (set_flag_forward_strides | set_flag_backward_strides),
            set_flag_forward_strides | set_flag_backward_strides);
  EXPECT_NE(r->set_flags & set_flag_derived_fb_strides, 0u);
  EXPECT_EQ(r->commit_status, dfti_uncommitted);
}

TEST(GpuCommit, InPlaceComplexWithDifferentSidesIsRefused) {
  record_guard r(make_record(dfti_double, dfti_complex, {8, 4}));
  const std::int64_t forward[] = {0, 1, 8}, backward[] = {0, 1, 9};
  r->methods->set_forward_strides(r.get(), forward);
  r->methods->set_backward_strides(r.get(), backward);
  EXPECT_EQ(commit(r.get()), 3);
}

TEST(GpuCommit, MixedConventionsAreRefused) {
  record_guard r(make_record(dfti_double, dfti_complex, {16}));
  const std::int64_t in[] = {0, 1};
  r->methods->set_input_strides(r.get(), in);
  r->methods->set_forward_distance(r.get(), 16);
  EXPECT_EQ(commit(r.get()), 3);
}

TEST(GpuCommit, RealDefaultStridesOutOfPlace) {
  record_guard r(make_record(dfti_single, dfti_real, {10, 6}));
  r->placement = dfti_not_inplace;
  commit(r.get());
  EXPECT_EQ(strides_of(r.get(), dim_forward), (strides{1, 10}));
  EXPECT_EQ(strides_of(r.get(), dim_backward), (strides{1, 6}));
  EXPECT_EQ(strides_of(r.get(), dim_input), (strides{0, 0}));
}

TEST(GpuCommit, RealDefaultStridesInPlacePadTheRealSide) {
  record_guard r(make_record(dfti_single, dfti_real, {10, 6}));
  EXPECT_EQ(commit(r.get()), 3);
  EXPECT_EQ(strides_of(r.get(), dim_forward), (strides{1, 12}));
  EXPECT_EQ(strides_of(r.get(), dim_backward), (strides{1, 6}));
}

TEST(GpuCommit, InPlaceRealWhoseRealSideIsNotTwiceTheComplexSideIsRefused) {
  record_guard r(make_record(dfti_double, dfti_real, {10, 6}));
  const std::int64_t forward[] = {0, 1, 10}, backward[] = {0, 1, 6};
  r->methods->set_forward_strides(r.get(), forward);
  r->methods->set_backward_strides(r.get(), backward);
  EXPECT_EQ(commit(r.get()), 3);
  const std::int64_t padded[] = {0, 1, 12};
  r->methods->set_forward_strides(r.get(), padded);
  EXPECT_EQ(commit(r.get()), 3);  // valid now; no backend takes it yet
  EXPECT_EQ(strides_of(r.get(), dim_forward), (strides{1, 12}));
}

TEST(GpuCommit, InputOutputDefaultsFollowTheGivenSide) {
  record_guard r(make_record(dfti_double, dfti_complex, {8, 4}));
  r->placement = dfti_not_inplace;
  const std::int64_t in[] = {0, 2, 16};
  r->methods->set_input_strides(r.get(), in);
  commit(r.get());
  EXPECT_EQ(strides_of(r.get(), dim_input), (strides{2, 16}));
  EXPECT_EQ(strides_of(r.get(), dim_output), (strides{1, 8}));
  EXPECT_EQ(strides_of(r.get(), dim_forward), (strides{0, 0}));
  EXPECT_EQ(r->set_flags & set_flag_derived_fb_strides, 0u);
}

TEST(GpuCommit, ComplexRecordLosingDimensionsMovesToTheOneDimensionalList) {
  record_guard r(make_record(dfti_double, dfti_complex, {1, 1, 64}));
  ASSERT_EQ(r->backend_list, backend_list_c2c_md_double());
  EXPECT_EQ(commit(r.get()), 3);
  EXPECT_EQ(r->backend_list, backend_list_c2c_1d_double());
  EXPECT_EQ(r->work_lengths.count, 1);
  EXPECT_EQ(r->merged_rank, 1);
  EXPECT_EQ(r->first_length, 64);
}

TEST(GpuCommit, RankFourIsUnimplemented) {
  record_guard r(make_record(dfti_single, dfti_complex, {4, 4, 4, 4}));
  EXPECT_EQ(commit(r.get()), 6);
}

TEST(GpuCommit, NonZeroOffsetIsUnimplementedAndASupportedLayoutIsInvalid) {
  record_guard offset(make_record(dfti_single, dfti_complex, {16, 8}));
  const std::int64_t in[] = {5, 1, 16};
  offset->methods->set_input_strides(offset.get(), in);
  EXPECT_EQ(commit(offset.get()), 6);

  record_guard plain(make_record(dfti_single, dfti_complex, {16, 8}));
  EXPECT_EQ(commit(plain.get()), 3);
}

TEST(GpuCommit, SplitComplexStorageIsUnimplemented) {
  record_guard r(make_record(dfti_double, dfti_complex, {32}));
  r->complex_storage = dfti_real_real;
  EXPECT_EQ(commit(r.get()), 6);
}

TEST(GpuCommit, TwoTransformsWithoutDistancesAreInvalid) {
  record_guard r(make_record(dfti_single, dfti_complex, {32}));
  r->methods->set_number_of_transforms(r.get(), 2);
  EXPECT_EQ(commit(r.get()), 3);
  r->methods->set_forward_distance(r.get(), 32);
  EXPECT_EQ(commit(r.get()), 3);  // valid now: backward distance copied
  EXPECT_EQ(r->batch.records[0].backward, 32);
  EXPECT_EQ(r->first_count, 2);
}

TEST(GpuCommit, SummaryFieldsFollowTheWorkingLayout) {
  record_guard r(make_record(dfti_double, dfti_complex, {16, 8}));
  r->methods->set_scale(r.get(), 0.5, scale_backward);
  commit(r.get());
  EXPECT_EQ(r->first_length, 16);
  EXPECT_EQ(r->first_in_stride, 1);
  EXPECT_EQ(r->first_out_stride, 1);
  EXPECT_EQ(r->scale_copy[1], 0.5);
  EXPECT_EQ(r->scale_f32[1], 0.5f);
}

// --- the list walk --------------------------------------------------------------

std::vector<std::string> trials;

// Declines or fails without touching the record.
template <int status>
int answer(const backend_table*, DFTI_DESCRIPTOR*) {
  trials.push_back(std::to_string(status));
  return status;
}

int frees = 0;
int counting_free(const backend_table* t, DFTI_DESCRIPTOR* r) {
  ++frees;
  return release_if_owner(t, r);
}
int compute_stub(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) { return 0; }

extern const backend_table accepts;
int accept_commit(const backend_table* t, DFTI_DESCRIPTOR* r) {
  trials.push_back("0");
  take_over_record(t, r);
  mark_committed(r, compute_stub, compute_stub, 1);
  return 0;
}
const backend_table accepts = {accept_commit, counting_free, shared_no_op_add_workspace};
const backend_table accepts_too = {accept_commit, counting_free, shared_no_op_add_workspace};
const backend_table declines = {answer<100>, counting_free, shared_no_op_add_workspace};
const backend_table out_of_memory = {answer<1>, counting_free, shared_no_op_add_workspace};
const backend_table unimplemented = {answer<6>, counting_free, shared_no_op_add_workspace};
const backend_table internal = {answer<7>, counting_free, shared_no_op_add_workspace};

struct walk_case {
  const char* name;
  std::vector<const backend_table*> list;
  int expected;
  std::vector<std::string> expected_trials;
};

void PrintTo(const walk_case& c, std::ostream* os) { *os << c.name; }

class ListWalk : public ::testing::TestWithParam<walk_case> {};

TEST_P(ListWalk, TriesInOrderAndReportsWhatTheCallerMustSee) {
  const walk_case& c = GetParam();
  std::vector<const backend_table*> list = c.list;
  list.push_back(nullptr);
  record_guard r(make_record(dfti_single, dfti_complex, {32}));
  r->backend_list = list.data();
  trials.clear();
  frees = 0;
  EXPECT_EQ(commit(r.get()), c.expected);
  EXPECT_EQ(trials, c.expected_trials);
  EXPECT_EQ(r->commit_status, c.expected == 0 ? dfti_committed : dfti_uncommitted);
  r->backend_list = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ListWalk,
    ::testing::Values(
        walk_case{"first_accepts", {&accepts, &declines}, 0, {"0"}},
        walk_case{"declines_then_accepts", {&declines, &declines, &accepts}, 0, {"100", "100", "0"}},
        walk_case{"all_decline", {&declines, &declines}, 3, {"100", "100"}},
        walk_case{"alloc_failure_then_accept", {&out_of_memory, &accepts}, 0, {"1", "0"}},
        walk_case{"alloc_failure_nobody_accepts", {&out_of_memory, &declines}, 1, {"1", "100"}},
        walk_case{"internal_then_alloc", {&internal, &out_of_memory, &declines}, 7, {"7", "1", "100"}},
        walk_case{"unimplemented_then_decline", {&unimplemented, &declines}, 3, {"6", "100"}},
        walk_case{"decline_then_unimplemented_last", {&declines, &unimplemented}, 6, {"100", "6"}}),
    [](const ::testing::TestParamInfo<walk_case>& info) { return std::string(info.param.name); });

TEST(ListWalkState, DecliningBackendsLeaveAnEarlierPlanInPlace) {
  std::vector<const backend_table*> first{&accepts, nullptr};
  std::vector<const backend_table*> second{&declines, &out_of_memory, nullptr};
  record_guard r(make_record(dfti_single, dfti_complex, {32}));
  r->backend_list = first.data();
  trials.clear();
  frees = 0;
  ASSERT_EQ(commit(r.get()), 0);
  r->backend_list = second.data();
  EXPECT_EQ(commit(r.get()), 1);
  EXPECT_EQ(r->commit_status, dfti_committed);
  EXPECT_EQ(r->backend, &accepts);
  EXPECT_EQ(frees, 0);
  // Another backend accepting releases the earlier plan exactly once.
  std::vector<const backend_table*> third{&accepts_too, nullptr};
  r->backend_list = third.data();
  ASSERT_EQ(commit(r.get()), 0);
  EXPECT_EQ(frees, 1);
  EXPECT_EQ(r->backend, &accepts_too);
  r->backend_list = nullptr;
}

TEST(ListWalkState, ARecordWithoutAListCannotBeCommitted) {
  record_guard r(make_record(dfti_single, dfti_complex, {32}));
  r->backend_list = nullptr;
  EXPECT_EQ(commit(r.get()), 7);
  const backend_table* empty[] = {nullptr};
  r->backend_list = empty;
  EXPECT_EQ(r->methods->recommit(r.get()), 7);
  r->backend_list = nullptr;
}

TEST(ListWalkState, TerminatorOutOfMemoryIsReportedAsSuch) {
  no_injection_at_exit reset;
  record_guard r(make_record(dfti_single, dfti_complex, {16, 8}));
  qez_standin_fail_allocations(0, -1);
  EXPECT_EQ(commit(r.get()), 1);
}

// --- the commit policies ----------------------------------------------------------

// A private block whose destruction is counted.
int blocks_destroyed = 0;
struct counted_block {
  ~counted_block() { ++blocks_destroyed; }
};
void destroy_counted_block(DFTI_DESCRIPTOR* r) { destroy_block<counted_block>(r); }

enum class thrown { bad_alloc, sycl_error, runtime_error, integer };
thrown init_throws = thrown::bad_alloc;

// Builds its block, then throws what the row asks for.
int throwing_init(DFTI_DESCRIPTOR* r) {
  create_block<counted_block>(r);
  switch (init_throws) {
    case thrown::bad_alloc: throw std::bad_alloc();
    case thrown::sycl_error: throw sycl::exception(sycl::make_error_code(sycl::errc::runtime), "device lost");
    case thrown::runtime_error: throw std::runtime_error("init failed");
    case thrown::integer: throw 42;
  }
  return status_success;
}

// What left run_init: its status, or what it threw.
std::string init_outcome(DFTI_DESCRIPTOR* r, const commit_policy& policy) {
  try {
    return "status " + std::to_string(run_init(r, throwing_init, destroy_counted_block, policy));
  } catch (const std::bad_alloc&) {
    return "std::bad_alloc";
  } catch (const sycl::exception& e) {
    return std::string("sycl::exception: ") + e.what();
  } catch (const std::runtime_error& e) {
    return std::string("std::runtime_error: ") + e.what();
  } catch (int v) {
    return "int " + std::to_string(v);
  }
}

struct policy_case {
  const char* name;
  const commit_policy* policy;
  thrown what;
  const char* expected;
};

void PrintTo(const policy_case& c, std::ostream* os) { *os << c.name; }

class CommitPolicy : public ::testing::TestWithParam<policy_case> {};

// Whatever init throws, the half-built block is destroyed exactly once.
TEST_P(CommitPolicy, ThrowingInitLeavesNoBlock) {
  const policy_case& c = GetParam();
  record_guard r(make_record(dfti_single, dfti_complex, {32}));
  init_throws = c.what;
  blocks_destroyed = 0;
  EXPECT_EQ(init_outcome(r.get(), *c.policy), c.expected);
  EXPECT_EQ(r->bkd_data, nullptr);
  EXPECT_EQ(blocks_destroyed, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Policies, CommitPolicy,
    ::testing::Values(
        policy_case{"as_status_bad_alloc", &keep_backend_exceptions_as_status, thrown::bad_alloc, "status 1"},
        policy_case{"as_status_sycl_error", &keep_backend_exceptions_as_status, thrown::sycl_error, "status 7"},
        policy_case{"as_status_runtime_error", &keep_backend_exceptions_as_status, thrown::runtime_error,
                    "std::runtime_error: init failed"},
        policy_case{"as_status_int", &keep_backend_exceptions_as_status, thrown::integer, "int 42"},
        policy_case{"when_thrown_bad_alloc", &keep_backend_destroy_when_thrown, thrown::bad_alloc, "std::bad_alloc"}),
    [](const ::testing::TestParamInfo<policy_case>& info) { return std::string(info.param.name); });

}  // namespace
