// Acceptance and children of the large one-dimensional backend, committed
// through the complex list with a caller workspace (nothing allocated or
// run), named by BACKEND_SCENARIO (each scenario is its own CTest entry):
//   harix    architecture 6: the plans and children of accepted lengths
//   decline  any other architecture: never this backend
#include <cstring>
#include <string>
#include <vector>

#include "dft/gpu/backends/1d_slm_large/n_facts_slm_pre_twiddle/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/large_1d/large_case.hpp"
#include "tests/backends/support/scenario_test.hpp"

namespace large_test {
namespace {

bool harix() { return backend_test::scenario() == "harix"; }

record_config config(precision p, int log2_length, std::int64_t count = 1) {
  record_config c;
  c.p = p;
  c.length = std::int64_t{1} << log2_length;
  c.count = count;
  c.internal_workspace = false;
  return c;
}

// The record is committed here under the Harix scenario and declined under
// every other one; whether the case goes on (Harix, and committed).
bool committed_on_harix_only(const committed_record& r) {
  if (!harix()) {
    EXPECT_FALSE(r.committed_here()) << r.description();
    return false;
  }
  EXPECT_TRUE(r.committed_here()) << r.description();
  return r.committed_here();
}

std::string name_of(const DFTI_DESCRIPTOR* child) { return std::string(child->name, strnlen(child->name, 10)); }

TEST(LargeAcceptance, Double2To21AndItsChildren) {
  committed_record r(config(precision::double_precision, 21));
  if (!committed_on_harix_only(r)) return;
  const auto& b = r.plan<double>();
  EXPECT_EQ(b.n_large, 2048);
  EXPECT_EQ(b.n_small, 1024);
  EXPECT_EQ(b.distance, b.length);
  EXPECT_EQ(b.chunk_count, 1);
  EXPECT_EQ(b.chunk_bytes, (std::int64_t{1} << 21) * 16);

  const DFTI_DESCRIPTOR* row = r.row_child();
  const DFTI_DESCRIPTOR* col = r.column_child();
  ASSERT_NE(row, nullptr);
  ASSERT_NE(col, nullptr);
  EXPECT_EQ(row->backend, &dft::dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_double);
  EXPECT_EQ(row->commit_status, dft::dfti_committed);
  EXPECT_EQ(col->commit_status, dft::dfti_committed);
  EXPECT_EQ(name_of(row), "1DL|row");
  EXPECT_EQ(name_of(col), "1DL|col");
  EXPECT_EQ(row->is_child, 1u);
  EXPECT_EQ(col->is_child, 1u);
  EXPECT_EQ(row->placement, dft::dfti_inplace);
  EXPECT_EQ(col->placement, dft::dfti_not_inplace);
  EXPECT_EQ(row->workspace_internal, 0u);
  EXPECT_EQ(row->batch.records[0].length, 1024);
  EXPECT_EQ(col->batch.records[0].length, 2048);

  // Matrix in the part no child needs, children's tables one after another.
  const std::uint64_t m = b.padded_matrix_bytes;
  EXPECT_EQ(m, std::uint64_t{1} << 25);
  if (b.matrix_in_first_part) {
    EXPECT_EQ(r.record()->workspace_bytes[0], m + col->workspace_bytes[0] + row->workspace_bytes[0]);
  } else {
    EXPECT_EQ(r.record()->workspace_bytes[0], col->workspace_bytes[0] + row->workspace_bytes[0]);
    EXPECT_EQ(r.record()->workspace_bytes[1], std::max<std::uint64_t>(m, col->workspace_bytes[1]));
  }
}

TEST(LargeAcceptance, SplitsOfThePrecisions) {
  committed_record d(config(precision::double_precision, 22));
  if (!harix()) {
    EXPECT_FALSE(d.committed_here()) << d.description();
    EXPECT_FALSE(committed_record(config(precision::single_precision, 22)).committed_here());
    return;
  }
  ASSERT_TRUE(d.committed_here()) << d.description();
  EXPECT_EQ(d.plan<double>().n_large, 4096);
  EXPECT_EQ(d.plan<double>().n_small, 1024);
  committed_record s(config(precision::single_precision, 22));
  ASSERT_TRUE(s.committed_here()) << s.description();
  EXPECT_EQ(s.plan<float>().n_large, 2048);
  EXPECT_EQ(s.plan<float>().n_small, 2048);
  EXPECT_EQ(s.row_child()->backend, &dft::dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_float);
}

TEST(LargeAcceptance, WorkspacePartsAndTheirSlices) {
  committed_record r(config(precision::double_precision, 21));
  if (!committed_on_harix_only(r)) return;
  const auto& b = r.plan<double>();
  ASSERT_EQ(b.matrix_in_first_part, 0) << "the children of 2^21 need no scratch";
  DFTI_DESCRIPTOR* record = r.record();
  const std::uint64_t first = record->workspace_bytes[0];
  sycl::queue& q = backend_test::gpu_test_queue();
  char* ws = static_cast<char*>(sycl::malloc_device(backend_test::workspace_bytes(record), q));
  ASSERT_NE(ws, nullptr);
  const dft::backend_table& table = dft::dft_c2c_large_1d_gpu_bkd_table_double;
  std::vector<sycl::event> events;

  // Part 0: the children's tables only, no matrix.
  ASSERT_EQ(table.add_workspace(ws, l1::workspace_usm, 0, record, dft::workspace_part_twiddles, &events), 0);
  EXPECT_EQ(b.ws_usm, nullptr);
  EXPECT_FALSE(events.empty());
  // Part 2: the matrix starts right after the first part.
  ASSERT_EQ(table.add_workspace(ws, l1::workspace_usm, 0, record, dft::workspace_part_both, &events), 0);
  EXPECT_EQ(b.ws_usm, ws + first);
  EXPECT_EQ(b.workspace_kind, l1::workspace_usm);
  // A workspace that is not there is refused.
  EXPECT_EQ(table.add_workspace(nullptr, l1::workspace_usm, 0, record, dft::workspace_part_both, nullptr),
            dft::status_no_workspace);
  for (sycl::event& e : events) e.wait();
  // Released with the plan before the allocation goes.
  EXPECT_EQ(record->methods->commit(record), 0);
  sycl::free(ws, q);
}

TEST(LargeAcceptance, LengthsOutsideTheRangeAreNotTaken) {
  for (std::int64_t n : {std::int64_t{1} << 20, std::int64_t{3} << 20}) {
    record_config c = config(precision::single_precision, 20);
    c.length = n;
    committed_record r(c);
    EXPECT_FALSE(r.committed_here()) << n;
  }
}

TEST(LargeAcceptance, ChildPlansAreNeverTaken) {
  record_config c = config(precision::single_precision, 21);
  c.child_mark = true;
  committed_record r(c);
  EXPECT_FALSE(r.committed_here()) << r.description();
}

TEST(LargeAcceptance, BatchesMustLieBackToBack) {
  const std::int64_t n = std::int64_t{1} << 21;
  committed_record packed(config(precision::single_precision, 21, 2));
  if (!harix()) {
    EXPECT_FALSE(packed.committed_here()) << packed.description();
    return;
  }
  EXPECT_TRUE(packed.committed_here()) << packed.description();
  EXPECT_EQ(packed.plan<float>().chunk_count, 2);

  record_config gap = config(precision::single_precision, 21, 2);
  gap.in_distance = n + 1;
  EXPECT_FALSE(committed_record(gap).committed_here());

  record_config unequal = config(precision::single_precision, 21, 2);
  unequal.in_distance = n;
  unequal.out_distance = 2 * n;
  EXPECT_FALSE(committed_record(unequal).committed_here());
}

TEST(LargeAcceptance, RecommitPlansAgainAndForeignFreeIsRefused) {
  committed_record r(config(precision::single_precision, 21));
  if (!committed_on_harix_only(r)) return;
  // A second commit releases the first plan (children included) and plans again.
  EXPECT_EQ(r.record()->methods->commit(r.record()), 0);
  EXPECT_TRUE(r.committed_here());
  EXPECT_EQ(dft::dft_c2c_large_1d_gpu_bkd_table_double.bkd_free(&dft::dft_c2c_large_1d_gpu_bkd_table_double,
                                                                 r.record()),
            dft::status_internal_error);
}

}  // namespace
}  // namespace large_test
