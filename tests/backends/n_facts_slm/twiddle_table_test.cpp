// The twiddle tables the backend writes (SYCL kernels, or the host for the
// float plans of the prebuilt kernels) against values computed here in long
// double, for both workspace containers and scales folded into the main table.
#include <cmath>
#include <cstring>

#include "tests/backends/n_facts_slm/slm_case.hpp"

namespace slm_test {
namespace {

constexpr long double pi = 3.141592653589793238462643383279502884L;

// Commit only submits the table uploads; what reads them on another queue
// waits for the record's queue first.
template <class T>
std::vector<T> read_table(const committed_record& r, void* usm, std::uint64_t bytes) {
  r.plan<T>().queue->wait();
  std::vector<T> host(bytes / sizeof(T));
  test_queue().memcpy(host.data(), usm, bytes).wait();
  return host;
}

// Largest difference in units of the precision's epsilon (values are at most 1).
template <class T>
long double worst_ulps(const std::vector<T>& got, const std::vector<long double>& want) {
  long double worst = 0;
  for (std::size_t i = 0; i < want.size(); ++i)
    worst = std::max(worst, std::fabs(static_cast<long double>(got[i]) - want[i]));
  return worst / std::numeric_limits<T>::epsilon();
}

std::vector<long double> simple_table(std::int64_t a_count, std::int64_t f) {
  std::vector<long double> t;
  for (std::int64_t a = 0; a < a_count; ++a)
    for (std::int64_t k = 0; k < f; ++k) {
      const long double angle = 2 * pi * static_cast<long double>(a * k) / static_cast<long double>(a_count * f);
      t.push_back(std::cos(angle));
      t.push_back(-std::sin(angle));
    }
  return t;
}

std::vector<long double> main_table(std::int64_t n, std::int64_t max_fact, std::int64_t s, std::int64_t k_count,
                                    long double scale) {
  std::vector<long double> t(static_cast<std::size_t>(k_count * max_fact * 2 * s), 0.0L);
  for (std::int64_t g = 0; g < k_count; ++g)
    for (std::int64_t r = 0; r < max_fact; ++r)
      for (std::int64_t l = 0; l < s; ++l) {
        const std::int64_t c = g * s / 2 + l / 2;
        if (c >= n / max_fact) continue;
        const long double angle = 2 * pi * static_cast<long double>(r * c) / static_cast<long double>(n);
        t[static_cast<std::size_t>(((g * max_fact + r) * 2) * s + l)] = scale * std::cos(angle);
        t[static_cast<std::size_t>(((g * max_fact + r) * 2 + 1) * s + l)] =
            (l % 2 == 0 ? -1 : 1) * scale * std::sin(angle);
      }
  return t;
}

template <class T>
void expect_tables(const committed_record& r) {
  const nf::block<T>& b = r.plan<T>();
  ASSERT_EQ(b.workspace_kind, nf::workspace_usm);
  const std::int64_t f0 = b.fact[nf::fact0], f1 = b.fact[nf::fact1], f2 = b.fact[nf::fact2];
  const std::uint64_t complex_bytes = 2 * sizeof(T);
  const long double tolerance = 2;  // ulps: the writers round a long-double value
  EXPECT_LE(worst_ulps(read_table<T>(r, b.areas[nf::area_1], complex_bytes * f0 * f1), simple_table(f0, f1)),
            tolerance);
  EXPECT_LE(worst_ulps(read_table<T>(r, b.areas[nf::area_2], complex_bytes * f0 * f1 * f2), simple_table(f0 * f1, f2)),
            tolerance);
  EXPECT_EQ(b.areas[nf::area_0], nullptr);
  EXPECT_EQ(b.areas[nf::area_3], nullptr);
  const std::uint64_t main_bytes = sizeof(T) * b.subgroup_count * b.max_fact * 2 * b.subgroup_size;
  for (nf::direction d : {nf::dir_forward, nf::dir_backward}) {
    const long double scale = d == nf::dir_forward ? r.config().fwd_scale : r.config().bwd_scale;
    EXPECT_LE(worst_ulps(read_table<T>(r, b.main_tables[d], main_bytes),
                         main_table(b.fft_len, b.max_fact, b.subgroup_size, b.subgroup_count, scale)),
              tolerance)
        << "direction " << d;
  }
  // Layout: areas 1 and 2, then the forward and the backward main table.
  const char* base = static_cast<const char*>(b.internal_workspace);
  EXPECT_EQ(static_cast<const char*>(b.areas[nf::area_1]), base);
  EXPECT_EQ(static_cast<const char*>(b.areas[nf::area_2]), base + b.area_bytes[nf::area_1]);
  EXPECT_EQ(static_cast<const char*>(b.main_tables[nf::dir_forward]),
            base + b.area_bytes[nf::area_1] + b.area_bytes[nf::area_2]);
  EXPECT_EQ(static_cast<const char*>(b.main_tables[nf::dir_backward]),
            static_cast<const char*>(b.main_tables[nf::dir_forward]) + b.main_table_bytes);
  EXPECT_EQ(r.workspace_bytes(), b.area_bytes[nf::area_1] + b.area_bytes[nf::area_2] + 2 * b.main_table_bytes);
}

using table_case = std::tuple<precision, std::int64_t>;
class Tables : public ::testing::TestWithParam<table_case> {};

TEST_P(Tables, EqualAHostComputation) {
  const auto [p, n] = GetParam();
  record_config c;
  c.p = p;
  c.length = n;
  c.fwd_scale = 0.25;
  c.bwd_scale = 1.0 / static_cast<double>(n);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  if (p == precision::double_precision)
    expect_tables<double>(r);
  else
    expect_tables<float>(r);
}

// 4096 and 8192 in float are the plans whose tables the host writes.
INSTANTIATE_TEST_SUITE_P(Lengths, Tables,
                         ::testing::Combine(::testing::Values(precision::single_precision, precision::double_precision),
                                            ::testing::Values(2048, 4096, 8192, 16384)),
                         [](const ::testing::TestParamInfo<table_case>& i) {
                           return std::string(name_of(std::get<0>(i.param))) + "_" +
                                  std::to_string(std::get<1>(i.param));
                         });

TEST(BufferWorkspace, TablesWrittenIntoSubBuffersEqualTheUsmOnes) {
  record_config c;
  c.p = precision::single_precision;
  c.length = 8192;
  c.internal_workspace = false;
  c.fwd_scale = 0.5;
  committed_record usm(c);
  committed_record buf(c);
  ASSERT_TRUE(usm.committed_here()) << usm.description();
  ASSERT_TRUE(buf.committed_here()) << buf.description();
  ASSERT_EQ(usm.give_usm_workspace(), 0);
  ASSERT_EQ(buf.give_buffer_workspace(), 0);
  const nf::block<float>& b = buf.plan<float>();
  ASSERT_EQ(b.workspace_kind, nf::workspace_buffer);
  const nf::block<float>& u = usm.plan<float>();
  for (nf::direction d : {nf::dir_forward, nf::dir_backward}) {
    sycl::host_accessor<char, 1> table(*b.main_subbuffers[d]);
    std::vector<float> got(b.main_table_bytes / sizeof(float));
    std::memcpy(got.data(), &table[0], b.main_table_bytes);
    const std::vector<float> want = read_table<float>(usm, u.main_tables[d], u.main_table_bytes);
    EXPECT_EQ(got, want);
  }
}

}  // namespace
}  // namespace slm_test
