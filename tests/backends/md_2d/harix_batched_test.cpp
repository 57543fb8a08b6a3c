// The batched layout of the children strategy (Harix, dense 2048 x 2048 with
// several transforms in double precision): one 2D transform at a time with
// byte distances, forward and backward against the reference, sub-buffer
// data refused before anything runs (single precision computes it), and no
// batched layout for a child record.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <ostream>
#include <string>
#include <vector>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "tests/backends/md_2d/md2d_case.hpp"
#include "tests/backends/support/guard_zones.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/expect_accurate.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace m = dft::c2c_2d_main;
using md2d_test::c2c_2d_config;
using md2d_test::container;
using qez_test::cld;

c2c_2d_config square(std::int64_t n, std::int64_t batch) {
  c2c_2d_config c;
  c.n0 = c.n1 = n;
  c.batch = batch;
  c.fwd_scale = 1.0;
  c.bwd_scale = 1.0 / static_cast<double>(n * n);
  return c;
}

TEST(BatchedLayout, OneTransformAtATime) {
  md2d_test::c2c_2d_record r(square(2048, 2), md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  ASSERT_EQ(b.batched_layout, 1);
  const std::int64_t bytes = 16 * 2048 * 2048;
  for (std::int64_t d : b.byte_distances) EXPECT_EQ(d, bytes);
  // The children are planned for one transform: N1 rows, no batch of 2.
  EXPECT_EQ(b.row_plan_fwd->batch.records[0].length, 2048);
  EXPECT_EQ(b.row_plan_fwd->batch.records[1].length, 1);
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "forward usm");
  EXPECT_WITHIN_BOUNDS(r.run(false, container::buffer), "backward buffer");
}

// Two dense 2048 x 2048 transforms whose input and output are sub-buffers,
// one transform into parents whose first transform holds the guard
// pattern. Double precision takes the batched layout, which refuses them
// before anything runs; single precision takes the ESIMD strategy, which
// computes them and leaves the parents' first transform as it was.
struct sub_buffer_row {
  const char* name;
  bool dbl;  // refused in double precision, computed in single
};
void PrintTo(const sub_buffer_row& row, std::ostream* os) { *os << row.name; }

constexpr std::int64_t sub_buffer_side = 2048, sub_buffer_points = sub_buffer_side * sub_buffer_side;

// `parent` holds one transform of the pattern, then `values`.
template <class T>
void write_after_pattern(sycl::buffer<char, 1>& parent, const std::vector<cld>& values) {
  sycl::host_accessor<char, 1> a(parent);
  auto* all = reinterpret_cast<std::complex<T>*>(&a[0]);
  std::fill(all, all + sub_buffer_points, backend_test::guard_pattern<T>());
  for (std::size_t k = 0; k < values.size(); ++k)
    all[sub_buffer_points + k] = {static_cast<T>(values[k].real()), static_cast<T>(values[k].imag())};
}

// Positions of the parent's first transform that no longer hold the pattern.
template <class T>
std::int64_t changed_lead(sycl::buffer<char, 1>& parent) {
  sycl::host_accessor<char, 1> a(parent);
  const auto* all = reinterpret_cast<const std::complex<T>*>(&a[0]);
  return std::count_if(all, all + sub_buffer_points,
                       [](const std::complex<T>& v) { return v != backend_test::guard_pattern<T>(); });
}

// The `count` values after the parent's first transform.
template <class T>
std::vector<cld> read_after_lead(sycl::buffer<char, 1>& parent, std::size_t count) {
  sycl::host_accessor<char, 1> a(parent);
  const auto* values = reinterpret_cast<const std::complex<T>*>(&a[0]) + sub_buffer_points;
  std::vector<cld> out(count);
  for (std::size_t k = 0; k < count; ++k) out[k] = {values[k].real(), values[k].imag()};
  return out;
}

template <class T>
void expect_sub_buffers_computed(DFTI_DESCRIPTOR* record, sycl::buffer<char, 1>& in_parent,
                                 sycl::buffer<char, 1>& in, sycl::buffer<char, 1>& out_parent,
                                 sycl::buffer<char, 1>& out) {
  const std::vector<cld> x = qez_test::random_complex(2 * sub_buffer_points, 11);
  write_after_pattern<T>(in_parent, x);
  write_after_pattern<T>(out_parent, std::vector<cld>(x.size()));
  std::uint64_t kind = dft::container_buffer;
  ASSERT_EQ(record->compute_fwd(record, &in, &out, nullptr, &kind, nullptr), 0);
  const std::vector<std::int64_t> lengths{sub_buffer_side, sub_buffer_side};
  qez_test::expect_accurate<T>(read_after_lead<T>(out_parent, x.size()),
                               backend_test::scaled_reference_c2c(x, lengths, 2, true, 1.0L), sub_buffer_points);
  EXPECT_EQ(changed_lead<T>(in_parent), 0);
  EXPECT_EQ(changed_lead<T>(out_parent), 0);
}

class SubBufferData : public ::testing::TestWithParam<sub_buffer_row> {};

TEST_P(SubBufferData, RefusedBeforeAnythingRunsOrComputed) {
  const sub_buffer_row& row = GetParam();
  c2c_2d_config c = square(sub_buffer_side, 2);
  c.dbl = row.dbl;
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(row.dbl));
  ASSERT_EQ(r.commit_status(), 0);
  ASSERT_EQ(m::block_of(r.record())->batched_layout, row.dbl ? 1 : 0);
  const size_t lead = static_cast<size_t>(sub_buffer_points) * (row.dbl ? 16 : 8);
  sycl::buffer<char, 1> in_parent{sycl::range<1>(3 * lead)}, out_parent{sycl::range<1>(3 * lead)};
  sycl::buffer<char, 1> in(in_parent, sycl::id<1>(lead), sycl::range<1>(2 * lead));
  sycl::buffer<char, 1> out(out_parent, sycl::id<1>(lead), sycl::range<1>(2 * lead));
  if (!row.dbl) {
    expect_sub_buffers_computed<float>(r.record(), in_parent, in, out_parent, out);
    return;
  }
  std::uint64_t kind = dft::container_buffer;
  try {
    r.record()->compute_fwd(r.record(), &in, &out, nullptr, &kind, nullptr);
    ADD_FAILURE() << "a sub-buffer input was accepted";
  } catch (const ulmara::qez::invalid_argument& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("compute_forward"), std::string::npos) << what;
    EXPECT_NE(what.find("Sub-buffer inputs are not supported for this size."), std::string::npos) << what;
  }
  sycl::buffer<char, 1> plain{sycl::range<1>(2 * lead)};
  EXPECT_THROW(r.record()->compute_bwd(r.record(), &plain, &out, nullptr, &kind, nullptr),
               ulmara::qez::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Precisions, SubBufferData,
                         ::testing::Values(sub_buffer_row{"double_batched_layout", true},
                                           sub_buffer_row{"single_esimd", false}),
                         [](const ::testing::TestParamInfo<sub_buffer_row>& info) {
                           return std::string(info.param.name);
                         });

// Stand-ins for the children's compute entries: the row child fails its
// first call and then, like the column child, reports success without
// submitting anything.
int row_calls = 0;
int row_fails_first(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) {
  return row_calls++ == 0 ? dft::status_internal_error : dft::status_success;
}
int column_succeeds(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) { return dft::status_success; }

// The batch goes on after a failing transform, and the call reports that
// failure even though the last transform succeeded.
TEST(BatchedLayout, AnEarlyFailureIsTheCallsStatus) {
  md2d_test::c2c_2d_record r(square(2048, 2), md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  ASSERT_EQ(b.batched_layout, 1);
  const dft::compute_entry row_entry = b.row_plan_fwd->compute_fwd;
  const dft::compute_entry column_entry = b.col_plan_fwd->compute_fwd;
  b.row_plan_fwd->compute_fwd = row_fails_first;
  b.col_plan_fwd->compute_fwd = column_succeeds;
  sycl::queue& q = backend_test::gpu_test_queue();
  void* data = sycl::malloc_device(static_cast<size_t>(b.byte_distances[m::fwd_in_bytes]) * 2, q);
  std::uint64_t kind = dft::container_usm;
  row_calls = 0;
  EXPECT_EQ(r.record()->compute_fwd(r.record(), data, data, nullptr, &kind, nullptr), dft::status_internal_error);
  EXPECT_EQ(row_calls, 2);
  b.row_plan_fwd->compute_fwd = row_entry;
  b.col_plan_fwd->compute_fwd = column_entry;
  sycl::free(data, q);
}

TEST(BatchedLayout, NotForChildRecordsOrSingleTransforms) {
  md2d_test::c2c_2d_record one(square(2048, 1), md2d_test::main_table(true));
  ASSERT_EQ(one.commit_status(), 0);
  EXPECT_EQ(m::block_of(one.record())->batched_layout, 0);

  md2d_test::c2c_2d_record child(square(2048, 2), md2d_test::main_table(true));
  ASSERT_EQ(child.commit_status(), 0);
  child.record()->is_child = 1;
  const dft::backend_table* mine = md2d_test::main_table(true);
  ASSERT_EQ(mine->bkd_commit(mine, child.record()), 0);
  EXPECT_EQ(m::block_of(child.record())->batched_layout, 0);
  EXPECT_EQ(m::block_of(child.record())->row_plan_fwd->batch.records[1].length, 2);
}

}  // namespace
