// The three twiddle-table classes as written on the device, against the
// twiddles computed here on the host in long double, in the lane order a
// sub-group of 8 reads them: (c, c) pairs of four entries, then their
// (v, -v) pairs.
#include <cmath>
#include <cstring>
#include <limits>

#include "tests/backends/eight_k/eight_k_case.hpp"

namespace eight_k_test {
namespace {

constexpr long double two_pi = 6.283185307179586476925286766559005768L;

struct expected_entry {
  std::int64_t position;  // element of the (c, c) pair
  long double re, im;
};

// Class 1 (M = 128 = 16 x 8) and class 2 (M = 64 = 8 x 8): entry of
// sub-sequence i and first-factor frequency j is exp(-2 pi I i j / M).
std::vector<expected_entry> factor_table(std::int64_t f0, std::int64_t f1) {
  std::vector<expected_entry> t;
  for (std::int64_t i = 0; i < f1; ++i)
    for (std::int64_t j = 0; j < f0; ++j) {
      const long double angle = two_pi * static_cast<long double>(i * j) / static_cast<long double>(f0 * f1);
      t.push_back({(i / 4) * 16 * f0 + 16 * j + 2 * (i % 4), std::cos(angle), -std::sin(angle)});
    }
  return t;
}

// Class 3: column j, register position i = 64 s + 4 r + m of pass 1 (lane
// pair m of sub-group s, register r = 8 h + k_b), which holds frequency
// k0 = 8 h + 4 s + m + 16 k_b; the entry is scale * exp(-2 pi I j k0 / 8192).
std::vector<expected_entry> inter_pass_table(long double scale) {
  std::vector<expected_entry> t;
  for (std::int64_t j = 0; j < 64; ++j)
    for (std::int64_t i = 0; i < 128; ++i) {
      const std::int64_t s = i / 64, r = (i % 64) / 4, m = i % 4;
      const std::int64_t k0 = 8 * (r / 8) + 4 * s + m + 16 * (r % 8);
      const long double angle = two_pi * static_cast<long double>(j * k0) / 8192.0L;
      t.push_back({512 * j + 16 * (i / 4) + 2 * (i % 4), scale * std::cos(angle), -scale * std::sin(angle)});
    }
  return t;
}

// Every element of the table is one of an entry's four, each as expected
// within one rounding of T.
template <class T>
void expect_table(const std::vector<T>& got, const std::vector<expected_entry>& want, long double scale,
                  const char* what) {
  ASSERT_EQ(got.size(), 4 * want.size()) << what;
  std::vector<int> seen(got.size(), 0);
  const long double tol = 2 * scale * std::numeric_limits<T>::epsilon();
  int failures = 0;
  for (const expected_entry& e : want) {
    const std::int64_t at[4] = {e.position, e.position + 1, e.position + 8, e.position + 9};
    const long double value[4] = {e.re, e.re, e.im, -e.im};
    for (int q = 0; q < 4; ++q) {
      ++seen[static_cast<size_t>(at[q])];
      if (std::fabs(static_cast<long double>(got[static_cast<size_t>(at[q])]) - value[q]) > tol && failures++ < 5)
        ADD_FAILURE() << what << ": element " << at[q] << " is " << got[static_cast<size_t>(at[q])] << ", expected "
                      << static_cast<double>(value[q]);
    }
  }
  for (size_t k = 0; k < seen.size(); ++k)
    if (seen[k] != 1 && failures++ < 5) ADD_FAILURE() << what << ": element " << k << " written " << seen[k] << " times";
}

template <class T>
std::vector<T> read_usm(const void* table, ek::table_class c) {
  std::vector<T> out(ek::table_bytes<T>(c) / sizeof(T));
  test_queue().wait();  // commit only submits the table uploads
  test_queue().memcpy(out.data(), table, out.size() * sizeof(T)).wait();
  return out;
}

template <class T>
std::vector<T> read_bytes(const char* bytes, ek::table_class c) {
  std::vector<T> out(ek::table_bytes<T>(c) / sizeof(T));
  std::memcpy(out.data(), bytes, out.size() * sizeof(T));
  return out;
}

record_config both_directions(precision p) {
  record_config c;
  c.p = p;
  c.count = 2;
  c.fwd_scale = 0.75;
  c.bwd_scale = 1.0 / 8192;
  return c;
}

// The six tables of a direction set, read through a reader of (direction, class).
template <class T, class Reader>
void expect_all_tables(const record_config& c, Reader read) {
  for (ek::direction d : {ek::dir_forward, ek::dir_backward}) {
    if (!ek::serves(c.directions, d)) continue;
    const long double scale = d == ek::dir_forward ? c.fwd_scale : c.bwd_scale;
    expect_table<T>(read(d, ek::table_n0), factor_table(16, 8), 1, "class 1");
    expect_table<T>(read(d, ek::table_n1), factor_table(8, 8), 1, "class 2");
    expect_table<T>(read(d, ek::table_inter), inter_pass_table(scale), scale, "class 3");
  }
}

template <class T>
void internal_tables(precision p) {
  const record_config c = both_directions(p);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  const ek::block<T>& b = r.plan<T>();
  // The commit returned after the writes.
  for (auto& per_class : b.table_events)
    for (sycl::event* e : per_class) {
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->get_info<sycl::info::event::command_execution_status>(),
                sycl::info::event_command_status::complete);
    }
  expect_all_tables<T>(c, [&](ek::direction d, ek::table_class k) { return read_usm<T>(b.tables[k][d], k); });
}

TEST(InternalWorkspace, TablesOfBothDirectionsDouble) { internal_tables<double>(precision::double_precision); }
TEST(InternalWorkspace, TablesOfBothDirectionsFloat) { internal_tables<float>(precision::single_precision); }

// Layout in a caller workspace: forward N0, N1, inter-pass tables, then the
// backward ones, each padded; the scratch area after them.
template <class T>
std::uint64_t table_offset(const ek::block<T>& b, ek::direction d, ek::table_class c) {
  std::uint64_t offset = 0;
  if (d == ek::dir_backward && b.directions == dft::directions_both)
    for (ek::table_class k : {ek::table_n0, ek::table_n1, ek::table_inter}) offset += b.padded_table_bytes[k];
  for (int k = 0; k < c; ++k) offset += b.padded_table_bytes[k];
  return offset;
}

template <class T>
void caller_workspace_tables(precision p) {
  const record_config c = both_directions(p);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  const ek::block<T>& b = r.plan<T>();
  ASSERT_EQ(r.give_buffer_workspace(), 0);
  {
    sycl::host_accessor<char, 1> bytes(*r.buffer_workspace());
    expect_all_tables<T>(c, [&](ek::direction d, ek::table_class k) {
      return read_bytes<T>(&bytes[0] + table_offset(b, d, k), k);
    });
  }
  ASSERT_EQ(r.give_usm_workspace(), 0);
  for (auto& per_class : b.table_events)
    for (sycl::event* e : per_class) e->wait();
  const char* usm = static_cast<const char*>(r.usm_workspace());
  expect_all_tables<T>(c, [&](ek::direction d, ek::table_class k) {
    EXPECT_EQ(b.tables[k][d], usm + table_offset(b, d, k));
    return read_usm<T>(usm + table_offset(b, d, k), k);
  });
  EXPECT_EQ(b.scratch, usm + r.record()->workspace_bytes[0]);
}

TEST(CallerWorkspace, BufferThenUsmDouble) { caller_workspace_tables<double>(precision::double_precision); }
TEST(CallerWorkspace, BufferThenUsmFloat) { caller_workspace_tables<float>(precision::single_precision); }

TEST(OneDirection, ForwardOnlyHasForwardTablesEventsAndKernels) {
  record_config c = both_directions(precision::double_precision);
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  const ek::block<double>& b = r.plan<double>();
  std::uint64_t one_direction = 0;
  for (ek::table_class k : {ek::table_n0, ek::table_n1, ek::table_inter}) {
    EXPECT_NE(b.tables[k][ek::dir_forward], nullptr);
    EXPECT_EQ(b.tables[k][ek::dir_backward], nullptr);
    EXPECT_NE(b.table_events[k][ek::dir_forward], nullptr);
    EXPECT_EQ(b.table_events[k][ek::dir_backward], nullptr);
    one_direction += b.padded_table_bytes[k];
  }
  EXPECT_EQ(r.record()->workspace_bytes[0], one_direction);
  for (ek::pass p : {ek::pass_columns, ek::pass_rows}) {
    EXPECT_NE(b.kernels[ek::kernel_slot(p, ek::dir_forward)], nullptr);
    EXPECT_EQ(b.kernels[ek::kernel_slot(p, ek::dir_backward)], nullptr);
  }
  expect_all_tables<double>(c, [&](ek::direction d, ek::table_class k) { return read_usm<double>(b.tables[k][d], k); });
}

TEST(OneDirection, BackwardOnlyLaysItsTablesOutFirst) {
  record_config c = both_directions(precision::single_precision);
  c.directions = dft::directions_backward;
  c.internal_workspace = false;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  ASSERT_EQ(r.give_usm_workspace(), 0);
  const ek::block<float>& b = r.plan<float>();
  for (auto& per_class : b.table_events) {
    EXPECT_EQ(per_class[ek::dir_forward], nullptr);
    per_class[ek::dir_backward]->wait();
  }
  EXPECT_EQ(b.tables[ek::table_n0][ek::dir_backward], r.usm_workspace());
  expect_all_tables<float>(c, [&](ek::direction d, ek::table_class k) { return read_usm<float>(b.tables[k][d], k); });
}

}  // namespace
}  // namespace eight_k_test
