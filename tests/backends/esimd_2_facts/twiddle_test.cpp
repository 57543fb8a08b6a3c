// Twiddle tables of the ESIMD plan, read back from the device: entry (i, j)
// of a pass of N points is s x (cos, sin)(2 pi i j / N), with the padding
// columns of a plain table and the 8 copies of a column-batch table; s is the
// direction's scale in pass 0 and 1 elsewhere. Both the USM and the buffer
// tables of the internal workspace are checked.
#include <algorithm>
#include <cmath>
#include <limits>

#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_internal.hpp"
#include "esimd_case.hpp"

namespace {

using namespace esimd_test;
namespace e2f = ulmara::qez::dft::esimd_2_facts;

template <class T>
std::vector<T> usm_table(const esimd_2_facts_plan<T>& p, int slice) {
  std::vector<T> host(p.slice_bytes[slice] / sizeof(T));
  p.queue->memcpy(host.data(), p.table_pointers[slice], p.slice_bytes[slice]).wait();
  return host;
}
template <class T>
std::vector<T> buffer_table(const esimd_2_facts_plan<T>& p, int slice) {
  sycl::host_accessor<T, 1, sycl::access_mode::read> host(*p.table_buffers[slice]);
  return std::vector<T>(host.begin(), host.end());
}

// Largest error of a table against the formula, in units of the scale.
template <class T>
long double table_error(const esimd_2_facts_plan<T>& p, std::uint64_t pass, const std::vector<T>& table, T scale) {
  const std::uint64_t f0 = p.fact0[pass], f1 = p.fact1[pass], points = f0 * f1;
  const bool columns = p.column_batch[pass] != 0;
  const std::uint64_t width = columns ? f1 : e2f::padded_factor(p.fact1[pass]);
  const std::uint64_t copies = columns ? 8 : 1;
  EXPECT_GE(table.size(), 2 * f0 * width * copies);
  const long double pi = 3.141592653589793238462643383279502884L;
  long double worst = 0;
  for (std::uint64_t i = 0; i < f0; ++i)
    for (std::uint64_t j = 0; j < width; ++j) {
      const long double angle = 2 * pi * static_cast<long double>(i * j) / static_cast<long double>(points);
      for (std::uint64_t k = 0; k < copies; ++k) {
        const std::uint64_t entry = (i * width + j) * copies + k;
        const long double re = std::fabs(table[2 * entry] - scale * std::cos(angle)) / std::fabs(scale);
        const long double im = std::fabs(table[2 * entry + 1] - scale * std::sin(angle)) / std::fabs(scale);
        // An entry that is not a number is as wrong as can be.
        if (std::isnan(re) || std::isnan(im)) return std::numeric_limits<long double>::infinity();
        worst = std::max({worst, re, im});
      }
    }
  return worst;
}

template <class T>
void check_tables(const lengths_t& lengths, T forward_scale, T backward_scale, long double tolerance_eps) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = committed_plan<T>(q, lengths, 1, forward_scale, backward_scale);
  ASSERT_TRUE(plan);
  SCOPED_TRACE(plan->describe());
  const long double tolerance = tolerance_eps * std::numeric_limits<T>::epsilon();
  for (std::uint64_t d = 0; d < plan->rank; ++d)
    for (int direction = 0; direction < 2; ++direction) {
      const int slice = e2f::slice_of(d, direction);
      const T scale = d > 0 ? T(1) : direction == 0 ? forward_scale : backward_scale;
      EXPECT_LE(table_error(*plan, d, usm_table(*plan, slice), scale), tolerance) << "usm pass " << d << " dir " << direction;
      EXPECT_LE(table_error(*plan, d, buffer_table(*plan, slice), scale), tolerance)
          << "buffer pass " << d << " dir " << direction;
    }
  // Later passes carry no scale: both directions share one table.
  for (std::uint64_t d = 1; d < plan->rank; ++d) {
    const auto a = usm_table(*plan, e2f::slice_of(d, 0)), b = usm_table(*plan, e2f::slice_of(d, 1));
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 2 * e2f::table_entries(*plan, d), b.begin())) << d;
  }
}

TEST(EsimdTwiddles, DoubleTablesCarryTheScalesInPassZero) {
  check_tables<double>({64, 90}, 0.5, 3.0, 4);
  check_tables<double>({128, 64, 72}, -2.0, 0.125, 4);
}

TEST(EsimdTwiddles, SingleTablesOnTheDevice) { check_tables<float>({256, 100}, 0.25f, 1.5f, 8); }

// Single-precision tables of 4096 points are computed in double precision on
// the host: within one rounding.
TEST(EsimdTwiddles, Single4096TablesFromTheHost) { check_tables<float>({64, 4096}, 1.0f, 0.5f, 1); }

// On a device whose allocations are capped below a 4096-point table (its
// own CTest entry), no shared block stages the host-computed entries: the
// tables still reach the caller's workspace (host memory, which the cap
// does not cover), each within one rounding.
TEST(EsimdTwiddlesWithoutSharedStaging, Single4096TablesStillWritten) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = make_plan<float>({64, 4096}, 1, 1.0f, 0.5f, /*internal_workspace=*/false);
  ASSERT_EQ(plan->commit_plan(&q), 0u);
  SCOPED_TRACE(plan->describe());
  const int large_slice = e2f::slice_of(1, 0);
  const std::uint64_t cap = q.get_device().get_info<sycl::info::device::max_mem_alloc_size>();
  ASSERT_LT(cap, plan->slice_bytes[large_slice]) << "the allocation cap leaves room for a staging block";
  const std::uint64_t bytes = plan->get_workspace_bytes(2);
  void* area = sycl::malloc_host(bytes, q);
  ASSERT_NE(area, nullptr);
  std::fill_n(static_cast<float*>(area), bytes / sizeof(float), 7.0f);  // no table entry is 7
  std::vector<sycl::event> events;
  plan->set_workspace(area, 2, &events, 0);
  for (sycl::event& e : events) e.wait();
  q.wait();
  for (std::uint64_t d = 0; d < plan->rank; ++d)
    for (int direction = 0; direction < 2; ++direction) {
      const float scale = d > 0 ? 1.0f : direction == 0 ? 1.0f : 0.5f;
      EXPECT_LE(table_error(*plan, d, usm_table(*plan, e2f::slice_of(d, direction)), scale),
                std::numeric_limits<float>::epsilon())
          << "pass " << d << " dir " << direction;
    }
  plan.reset();
  sycl::free(area, q);
}

}  // namespace
