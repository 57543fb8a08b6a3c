// Host-side pieces of the small multi-dimensional backend: the full option
// strings of a few configurations, the kernel names, the factorisation, and
// the factor tables written on the device against a host computation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/small_md/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "tests/backends/support/option_goldens.hpp"

namespace {

namespace qd = ulmara::qez::dft;
namespace smd = ulmara::qez::dft::small_md;

std::string options_of(smd::block& b, int d, bool dbl) {
  smd::format_small_md_names(b, dbl);
  char text[1024];
  EXPECT_EQ(smd::format_small_md_options(b, d, dbl, text, sizeof text), 0);
  return text;
}

// Dimension `d` of the kernel split into the two factors f0 x f1.
void split_in_two(smd::small_md_kernel_config& c, int d, std::int64_t f0, std::int64_t f1) {
  c.factors[d][0] = f0;
  c.factors[d][1] = f1;
  c.factor_counts[d] = 2;
}

// Complex double rank 1, 64 points, one factor.
void complex_64(smd::block& b) {
  b.rank = 1;
  b.lengths[0] = 64;
  smd::small_md_kernel_config& c = b.config;
  c.rank = 1;
  c.input_distance[0] = c.input_distance[1] = 64;
  c.output_distance[0] = c.output_distance[1] = 64;
  c.direction_enabled[0] = c.direction_enabled[1] = 1;
  c.sub_group_size = 16;
  c.threads_per_group = 1;
  c.slm_bytes = 1024;
  c.factors[0][0] = 64;
}

TEST(SmallMdOptions, ComplexDouble64OneFactor) {
  smd::block b;
  complex_64(b);
  EXPECT_EQ(options_of(b, 0, true),
            backend_test::golden_options("small_md", backend_test::precision::double_precision, "complex 64, forward"));
  EXPECT_STREQ(b.kernel_name, "cmplx_fft_64_d");
  EXPECT_STREQ(b.butterfly_names[0][0], "fft_64_s");
}

TEST(SmallMdOptions, ScaleOnlyWithOneFactor) {
  smd::block b;
  complex_64(b);
  b.config.scales[0] = 0.5;
  const std::string forward = options_of(b, 0, true);
  EXPECT_NE(forward.find("-DDIM0FACT0_FUNC=fft_64_s -DSCALE=(ftype)0x1p-1 -DCOPY_INPUT_IN_SLM"), std::string::npos)
      << forward;
  EXPECT_EQ(options_of(b, 1, true).find("SCALE"), std::string::npos);
  split_in_two(b.config, 0, 8, 8);
  EXPECT_EQ(options_of(b, 0, true).find("SCALE"), std::string::npos);
}

TEST(SmallMdOptions, ComplexSingle2DBackward) {
  smd::block b;
  b.rank = 2;
  b.lengths[0] = 32;
  b.lengths[1] = 16;
  smd::small_md_kernel_config& c = b.config;
  c.rank = 2;
  c.input_distance[1] = c.output_distance[1] = 512;
  c.input_strides[1][1] = c.output_strides[1][1] = 32;
  c.direction_enabled[1] = 1;
  c.scales[1] = 0.5;
  c.sub_group_size = 32;
  c.threads_per_group = 16;
  c.slm_bytes = 4096;
  split_in_two(c, 0, 8, 4);
  split_in_two(c, 1, 4, 4);
  EXPECT_EQ(options_of(b, 1, false), backend_test::golden_options("small_md", backend_test::precision::single_precision,
                                                                  "complex 16 x 32, backward"));
}

TEST(SmallMdOptions, RealDouble128LargeRegisterFile) {
  smd::block b;
  b.rank = 1;
  b.lengths[0] = 128;
  smd::small_md_kernel_config& c = b.config;
  c.rank = 1;
  c.real = 1;
  c.input_distance[0] = 128;
  c.output_distance[0] = 65;
  c.direction_enabled[0] = 1;
  c.sub_group_size = 16;
  c.threads_per_group = 4;
  c.slm_bytes = 2048;
  c.large_grf = 1;
  split_in_two(c, 0, 8, 8);
  EXPECT_EQ(options_of(b, 0, true),
            backend_test::golden_options("small_md", backend_test::precision::double_precision, "real 128, forward"));
}

TEST(SmallMdFactorize, SpreadRule) {
  std::int64_t out[4] = {};
  ASSERT_EQ(smd::factorize_length(2, 60, out), 0);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(out[1], 6);
  ASSERT_EQ(smd::factorize_length(2, 64, out), 0);
  EXPECT_EQ(out[0], 8);
  EXPECT_EQ(out[1], 8);
  EXPECT_EQ(smd::factorize_length(3, 2, out), 100);
  EXPECT_EQ(smd::factorize_length(1, 1, out), 100);
  EXPECT_EQ(smd::factorize_length(1, 65, out), 100);
  EXPECT_EQ(smd::factorize_length(1, 0, out), 7);
}

// ---------------------------------------------------------------------------
// Tables written on the device against the formulas computed here in long
// double.

sycl::queue& test_queue() {
  static sycl::queue* q = new sycl::queue(sycl::gpu_selector_v);
  return *q;
}

long double cospi_l(long double x) { return std::cos(3.141592653589793238462643383279502884L * x); }
long double sinpi_l(long double x) { return std::sin(3.141592653589793238462643383279502884L * x); }

// Entries (position, value) of one table.
std::vector<std::pair<std::size_t, long double>> expected_entries(const smd::small_md_kernel_config& c, int slot) {
  std::vector<std::pair<std::size_t, long double>> e;
  const std::int64_t h = c.sub_group_size / 2, n = smd::c2c_length(c), f0 = c.factors[0][0];
  if (slot <= 1) {
    for (std::int64_t k = 0; k < f0; ++k)
      for (std::int64_t j = 0; j < n / f0; ++j) {
        const long double x = -2.0L * k * j / n, s = c.scales[slot];
        const std::size_t p = static_cast<std::size_t>((j / h) * 4 * h * f0 + k * 4 * h + 2 * (j % h));
        e.push_back({p, cospi_l(x) * s});
        e.push_back({p + 1, cospi_l(x) * s});
        e.push_back({p + 2 * h, sinpi_l(x) * s});
        e.push_back({p + 2 * h + 1, -sinpi_l(x) * s});
      }
  } else if (slot == 2 || slot == 3 || slot == 5) {
    std::int64_t a_len, e_len;
    if (slot == 5) {
      a_len = c.factors[1][0];
      e_len = c.factors[1][1];
    } else {
      a_len = c.factors[0][slot - 1];
      e_len = 1;
      for (int i = slot; i < c.factor_counts[0]; ++i) e_len *= c.factors[0][i];
    }
    for (std::int64_t a = 0; a < a_len; ++a)
      for (std::int64_t b = 0; b < e_len; ++b) {
        const long double x = 2.0L * a * b / (a_len * e_len);
        const std::size_t p = static_cast<std::size_t>(2 * (b * a_len + a));
        e.push_back({p, cospi_l(x)});
        e.push_back({p + 1, sinpi_l(x)});
      }
  } else if (slot == 4) {
    const std::int64_t g1 = c.rank == 2 ? smd::dim1_length(c) : 1;
    const std::int64_t share = c.threads_per_group / (c.batch_per_group * g1);
    const std::int64_t q = ((n + 1) / 2 + share * h - 1) / (share * h) * h;
    for (std::int64_t r = 0; r < share; ++r)
      for (std::int64_t j = 0; j < q; ++j) {
        const std::int64_t m = (j / h) * h * share + r * h + j % h;
        const long double x = -1.0L * m / n;
        const std::size_t p = static_cast<std::size_t>(4 * r * q + 4 * h * (j / h) + 2 * (j % h));
        e.push_back({p, cospi_l(x)});
        e.push_back({p + 1, cospi_l(x)});
        e.push_back({p + 2 * h, sinpi_l(x)});
        e.push_back({p + 2 * h + 1, -sinpi_l(x)});
      }
  }
  return e;
}

template <class T>
void check_tables(DFTI_DESCRIPTOR* r) {
  ASSERT_EQ(r->methods->commit(r), 0);
  const qd::backend_table* mine =
      sizeof(T) == 8 ? &qd::dft_small_md_gpu_bkd_table_double : &qd::dft_small_md_gpu_bkd_table_float;
  ASSERT_EQ(r->backend, mine);
  smd::block& b = *static_cast<smd::block*>(r->bkd_data);
  const std::uint64_t bytes = r->workspace_bytes[0];
  ASSERT_GT(bytes, 0u);
  char* ws = sycl::malloc_device<char>(bytes, test_queue());
  std::vector<sycl::event> events;
  ASSERT_EQ(mine->add_workspace(ws, 2, 0, r, 2, &events), 0);
  std::vector<T> host(bytes / sizeof(T));
  test_queue().memcpy(host.data(), ws, bytes).wait();
  sycl::free(ws, test_queue());
  std::size_t offset = 0, checked = 0;
  for (int slot = 0; slot < smd::slot_count; ++slot) {
    if (b.tables[slot] == nullptr) continue;
    const T* table = host.data() + offset / sizeof(T);
    for (const auto& entry : expected_entries(b.config, slot)) {
      ASSERT_LT(offset + entry.first * sizeof(T), bytes);
      EXPECT_NEAR(table[entry.first], entry.second, 4 * std::numeric_limits<T>::epsilon())
          << "slot " << slot << " position " << entry.first;
      ++checked;
    }
    offset += b.tables[slot]->size;
  }
  EXPECT_EQ(offset, bytes);
  EXPECT_GT(checked, 0u);
  r->free(r, r);
}

DFTI_DESCRIPTOR* real_record(bool dbl, std::int64_t n) {
  DFTI_DESCRIPTOR* r = nullptr;
  EXPECT_EQ(dbl ? qd::create_child_descriptor_r2c_1d_double(&r, n, nullptr)
                : qd::create_child_descriptor_r2c_1d_float(&r, n, nullptr),
            0);
  r->queue = &test_queue();
  r->placement = qd::dfti_not_inplace;
  r->workspace_internal = 0;
  r->fwd_scale = 0.5;
  r->bwd_scale = 0.25;
  return r;
}

TEST(SmallMdTables, RealDoubleTablesMatchHost) { check_tables<double>(real_record(true, 2048)); }
TEST(SmallMdTables, RealSingleTablesMatchHost) { check_tables<float>(real_record(false, 1000)); }

}  // namespace
