// The twiddle tables the three-factor backend writes into a caller's
// workspace, read back and compared with a host computation in long double:
// class 1 (scaled by the direction's scale) and class 2 of each direction,
// in the order forward class 1, forward class 2, backward class 1, backward
// class 2, on USM and buffer workspaces.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/backends/three_factor/three_factor_case.hpp"

namespace three_factor_test {
namespace {

constexpr long double pi = 3.141592653589793238462643383279502884L;

// Largest difference between a table of `entries` complex values of T at
// `bytes` and scale * exp(-2 pi i a b / points) at entry a * width + b.
template <class T>
long double table_error(const char* bytes, std::int64_t rows, std::int64_t width, std::int64_t points,
                        long double scale) {
  std::vector<T> table(static_cast<size_t>(2 * rows * width));
  std::memcpy(table.data(), bytes, table.size() * sizeof(T));
  long double worst = 0;
  for (std::int64_t a = 0; a < rows; ++a)
    for (std::int64_t b = 0; b < width; ++b) {
      const long double angle = -2 * pi * static_cast<long double>(a * b) / static_cast<long double>(points);
      const std::size_t e = static_cast<size_t>(2 * (a * width + b));
      worst = std::max(worst, std::fabs(static_cast<long double>(table[e]) - scale * std::cos(angle)));
      worst = std::max(worst, std::fabs(static_cast<long double>(table[e + 1]) - scale * std::sin(angle)));
    }
  return worst;
}

template <class T>
void check_tables(const committed_record& r, const std::vector<char>& workspace) {
  const tf::block<T>& b = r.plan<T>();
  const record_config& c = r.config();
  const std::int64_t f0 = b.fact[0], f1 = b.fact[1], f2 = b.fact[2];
  // A few units in the last place of values of magnitude up to |scale|.
  const long double eps = std::numeric_limits<T>::epsilon();
  std::size_t offset = 0;
  for (bool forward : {true, false}) {
    const long double scale = forward ? c.fwd_scale : c.bwd_scale;
    EXPECT_LE(table_error<T>(workspace.data() + offset, f1 * f2, f0, c.length, scale), 4 * eps * std::fabs(scale))
        << (forward ? "forward" : "backward") << " class 1";
    offset += b.class_bytes[tf::class_1];
    EXPECT_LE(table_error<T>(workspace.data() + offset, f1, f2, f1 * f2, 1.0L), 4 * eps)
        << (forward ? "forward" : "backward") << " class 2";
    offset += b.class_bytes[tf::class_2];
  }
  EXPECT_EQ(offset, r.record()->workspace_bytes[0]);
}

std::vector<char> read_usm(void* usm, std::uint64_t bytes) {
  std::vector<char> host(bytes);
  backend_test::gpu_test_queue().memcpy(host.data(), usm, bytes).wait();
  return host;
}

std::vector<char> read_buffer(sycl::buffer<char, 1>* buffer, std::uint64_t bytes) {
  std::vector<char> host(bytes);
  sycl::host_accessor<char, 1> a(*buffer);
  std::memcpy(host.data(), &a[0], bytes);
  return host;
}

class ThreeFactorTwiddles : public ::testing::TestWithParam<bool> {};

TEST_P(ThreeFactorTwiddles, TablesEqualTheHostComputation) {
  record_config c;
  c.double_precision = GetParam();
  c.length = 324;  // 36 x 3 x 3
  c.internal_workspace = false;
  c.fwd_scale = 1.0 / 324;
  c.bwd_scale = 2.5;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const std::uint64_t bytes = backend_test::workspace_bytes(r.record());

  ASSERT_EQ(r.workspace().give_usm(r.record(), bytes), 0);
  backend_test::gpu_test_queue().wait();
  const std::vector<char> usm = read_usm(r.workspace().usm(), bytes);
  c.double_precision ? check_tables<double>(r, usm) : check_tables<float>(r, usm);

  ASSERT_EQ(r.workspace().give_buffer(r.record(), bytes), 0);
  const std::vector<char> buffer = read_buffer(r.workspace().buffer(), bytes);
  c.double_precision ? check_tables<double>(r, buffer) : check_tables<float>(r, buffer);
}

INSTANTIATE_TEST_SUITE_P(Precisions, ThreeFactorTwiddles, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "double" : "single"; });

}  // namespace
}  // namespace three_factor_test
