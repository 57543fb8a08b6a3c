// Planning of the very large backend without a device: the factor table,
// the child layouts of the three stages (checked by running them as plain
// strided DFTs with the post-twiddle rule against a direct DFT), the child
// names, the distance rules and the acceptance tests.
#include <cmath>
#include <complex>
#include <vector>

#include <gtest/gtest.h>

#include "dft/gpu/backends/1d_slm_large/very_large_1d/plan.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "tests/backends/support/option_goldens.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace vl = ulmara::qez::dft::very_large_1d;
using qez_test::cld;

constexpr std::int64_t p25 = std::int64_t{1} << 25;
constexpr std::int64_t p26 = std::int64_t{1} << 26;
constexpr std::int64_t p27 = std::int64_t{1} << 27;
constexpr std::int64_t odd_length = 134400000;

TEST(VeryLargePlan, FactorTableRowsAndPadding) {
  struct expected {
    std::int64_t m, f0, f1, f2, pad;
    std::uint64_t bytes;
  };
  const expected rows[] = {{p25, 512, 256, 256, 8, 272629760ULL},
                           {p26, 512, 512, 256, 8, 520ULL * 512 * 256 * 8},
                           {p27, 1024, 512, 256, 8, 1032ULL * 512 * 256 * 8},
                           {odd_length, 512, 525, 500, 0, 1075200000ULL}};
  ASSERT_EQ(vl::factor_rows().size(), 4u);
  for (const expected& e : rows) {
    const vl::factor_row* row = vl::find_factor_row(e.m);
    ASSERT_NE(row, nullptr) << e.m;
    EXPECT_EQ(row->f[0], e.f0);
    EXPECT_EQ(row->f[1], e.f1);
    EXPECT_EQ(row->f[2], e.f2);
    EXPECT_EQ(row->f[0] * row->f[1] * row->f[2], e.m);
    EXPECT_EQ(vl::row_padding(*row), e.pad);
    EXPECT_EQ(vl::intermediate_bytes_of(*row), e.bytes);
  }
  EXPECT_EQ(vl::find_factor_row(std::int64_t{1} << 24), nullptr);
}

TEST(VeryLargePlan, PlannedLengths) {
  for (std::int64_t m : {p25, p26, p27, odd_length}) {
    EXPECT_TRUE(vl::is_planned_length(m, false)) << m;
    EXPECT_TRUE(vl::is_planned_length(2 * m, true)) << m;
  }
  EXPECT_FALSE(vl::is_planned_length(p25, true));  // its half has no row
  EXPECT_FALSE(vl::is_planned_length(std::int64_t{1} << 24, false));
  EXPECT_FALSE(vl::is_planned_length(p25 + 1, false));
  EXPECT_FALSE(vl::is_planned_length(std::int64_t{1} << 29, true));
}

TEST(VeryLargePlan, ChildNames) {
  EXPECT_EQ(vl::stage_child_name(0), "1DL|1st");
  EXPECT_EQ(vl::stage_child_name(1), "1DL|1th");
  EXPECT_EQ(vl::stage_child_name(2), "1DL|2th");
}

TEST(VeryLargePlan, StageTableOf2To25) {
  const vl::factor_row& row = *vl::find_factor_row(p25);
  const std::int64_t ld = 520;
  const vl::child_layout s0 = vl::stage_child_layout(row, 8, 0, 0);
  EXPECT_EQ(s0.length, 512);
  EXPECT_EQ(s0.input_stride, 256 * 256);
  EXPECT_EQ(s0.output_stride, 1);
  EXPECT_EQ(s0.batch[0].length, 256);
  EXPECT_EQ(s0.batch[0].input, 1);
  EXPECT_EQ(s0.batch[0].output, ld);
  EXPECT_EQ(s0.batch[1].length, 256);
  EXPECT_EQ(s0.batch[1].input, 256);
  EXPECT_EQ(s0.batch[1].output, 256 * ld);
  EXPECT_EQ(s0.placement, dft::dfti_not_inplace);
  EXPECT_EQ(s0.post_twiddle_batch, 256 * 256);
  const vl::child_layout s1 = vl::stage_child_layout(row, 8, 1, 0);
  EXPECT_EQ(s1.length, 256);
  EXPECT_EQ(s1.input_stride, 256 * ld);
  EXPECT_EQ(s1.output_stride, 256 * ld);
  EXPECT_EQ(s1.placement, dft::dfti_inplace);
  EXPECT_EQ(s1.post_twiddle_batch, 256);
  const vl::child_layout s2 = vl::stage_child_layout(row, 8, 2, 1);
  EXPECT_EQ(s2.length, 256);
  EXPECT_EQ(s2.input_stride, ld);
  EXPECT_EQ(s2.output_stride, 512 * 256);
  EXPECT_EQ(s2.batch[1].input, ld * 256);
  EXPECT_EQ(s2.batch[1].output, 512);
  EXPECT_EQ(s2.post_twiddle_batch, 0);
  EXPECT_EQ(s2.output_offset, 1);
  EXPECT_EQ(vl::stage_child_layout(row, 8, 2, 0).output_offset, 0);
}

// ---------------------------------------------------------------------------
// The stages as plain strided DFTs: child plans are batched DFTs whose
// output k of batch element b (counted over both batch rows, inner first) is
// multiplied by w(L x P)^(k x b / (batch / P)) when a post-twiddle batch P
// is asked for.

cld unit_root(long double sign, long double numerator, long double denominator) {
  const long double a = sign * 2 * 3.14159265358979323846264338327950288L * numerator / denominator;
  return cld(std::cos(a), std::sin(a));
}

void run_child(const vl::child_layout& l, long double sign, const std::vector<cld>& in, std::int64_t in_base,
               std::vector<cld>& out, std::int64_t out_base) {
  const std::int64_t total = l.batch[0].length * l.batch[1].length;
  std::vector<cld> row(static_cast<size_t>(l.length));
  for (std::int64_t i2 = 0; i2 < l.batch[1].length; ++i2)
    for (std::int64_t i1 = 0; i1 < l.batch[0].length; ++i1) {
      const std::int64_t flat = i2 * l.batch[0].length + i1;
      const std::int64_t src = in_base + l.input_offset + i1 * l.batch[0].input + i2 * l.batch[1].input;
      const std::int64_t dst = out_base + l.output_offset + i1 * l.batch[0].output + i2 * l.batch[1].output;
      for (std::int64_t k = 0; k < l.length; ++k) {
        cld acc = 0;
        for (std::int64_t p = 0; p < l.length; ++p)
          acc += in[static_cast<size_t>(src + p * l.input_stride)] * unit_root(sign, p * k % l.length, l.length);
        if (l.post_twiddle_batch > 0) {
          const std::int64_t b = flat / (total / l.post_twiddle_batch);
          acc *= unit_root(sign, k * b, l.length * l.post_twiddle_batch);
        }
        row[static_cast<size_t>(k)] = acc;
      }
      // In place the whole row is read before it is written.
      for (std::int64_t k = 0; k < l.length; ++k) out[static_cast<size_t>(dst + k * l.output_stride)] = row[static_cast<size_t>(k)];
    }
}

struct small_factors {
  std::int64_t f0, f1, f2;
};

class StagesCompose : public ::testing::TestWithParam<small_factors> {};

TEST_P(StagesCompose, ThreeStagesMakeTheTransformInBothDirectionsThroughEitherLastChild) {
  const small_factors f = GetParam();
  const vl::factor_row row{f.f0 * f.f1 * f.f2, {f.f0, f.f1, f.f2}};
  const std::int64_t m = row.complex_length;
  const std::int64_t pad = vl::row_padding(row);
  const std::int64_t ld = f.f0 + pad;
  const std::vector<cld> x = qez_test::random_complex(m, static_cast<std::uint64_t>(m));
  for (const qez_test::dft_sign sign : {qez_test::dft_sign::forward, qez_test::dft_sign::backward}) {
    const long double s = static_cast<long double>(static_cast<int>(sign));
    const std::vector<cld> reference = qez_test::reference_c2c(x, {m}, 1, sign);
    std::vector<cld> t(static_cast<size_t>(ld * f.f1 * f.f2), cld(1e30L, 0));  // padding never read
    run_child(vl::stage_child_layout(row, pad, 0, 0), s, x, 0, t, 0);
    run_child(vl::stage_child_layout(row, pad, 1, 0), s, t, 0, t, 0);
    for (int j : {0, 1}) {
      // Child j writes from one value before (j = 1) the transform's start.
      std::vector<cld> y(static_cast<size_t>(m + 1));
      run_child(vl::stage_child_layout(row, pad, 2, j), s, t, 0, y, 1 - j);
      const std::vector<cld> got(y.begin() + 1, y.end());
      const qez_test::accuracy a = qez_test::measure(got, reference);
      EXPECT_LT(a.relative_l2, 1e-15L) << "F=" << f.f0 << "x" << f.f1 << "x" << f.f2 << " child " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SmallFactors, StagesCompose,
                         ::testing::Values(small_factors{8, 4, 4},    // power of two: rows padded by 8
                                           small_factors{5, 4, 3},    // odd F0: padded by 1
                                           small_factors{6, 5, 3},    // no padding
                                           small_factors{16, 8, 2}),
                         [](const ::testing::TestParamInfo<small_factors>& i) {
                           return std::to_string(i.param.f0) + "x" + std::to_string(i.param.f1) + "x" +
                                  std::to_string(i.param.f2);
                         });

// ---------------------------------------------------------------------------
// Distances of one direction.

TEST(VeryLargePlan, DistancesPerDirectionAndDomain) {
  const dft::batch_layout_row fb{3, 0, 1000, 600, 0, 0};
  const dft::batch_layout_row io{3, 1, 0, 0, 1000, 600};
  EXPECT_EQ(vl::distances_for(fb, false, vl::dir_forward).input, 1000);
  EXPECT_EQ(vl::distances_for(fb, false, vl::dir_forward).output, 600);
  EXPECT_EQ(vl::distances_for(fb, false, vl::dir_backward).input, 600);
  EXPECT_EQ(vl::distances_for(fb, false, vl::dir_backward).output, 1000);
  // Real: the real side counts reals, halved into complex values.
  EXPECT_EQ(vl::distances_for(fb, true, vl::dir_forward).input, 500);
  EXPECT_EQ(vl::distances_for(fb, true, vl::dir_forward).output, 600);
  EXPECT_EQ(vl::distances_for(fb, true, vl::dir_backward).input, 600);
  EXPECT_EQ(vl::distances_for(fb, true, vl::dir_backward).output, 500);
  EXPECT_EQ(vl::distances_for(io, true, vl::dir_forward).input, 500);
  EXPECT_EQ(vl::distances_for(io, true, vl::dir_backward).output, 300);
  EXPECT_EQ(vl::distances_for(io, false, vl::dir_backward).input, 1000);
}

TEST(VeryLargePlan, RealKernelOptionsAndNames) {
  const dft::batch_layout_row fb{2, 0, p26 + 2, p25 + 1, 0, 0};
  EXPECT_EQ(vl::real_kernel_options(fb, vl::dir_forward),
            backend_test::golden_options("very_large_1d", backend_test::precision::single_precision,
                                         "real kernel, forward-backward distances, forward"));
  EXPECT_EQ(vl::real_kernel_options(fb, vl::dir_backward),
            backend_test::golden_options("very_large_1d", backend_test::precision::single_precision,
                                         "real kernel, forward-backward distances, backward"));
  const dft::batch_layout_row io{2, 1, 0, 0, p26 + 2, p25 + 5};
  EXPECT_EQ(vl::real_kernel_options(io, vl::dir_forward),
            backend_test::golden_options("very_large_1d", backend_test::precision::single_precision,
                                         "real kernel, input-output distances, forward"));
  EXPECT_EQ(vl::real_kernel_options(io, vl::dir_backward),
            backend_test::golden_options("very_large_1d", backend_test::precision::single_precision,
                                         "real kernel, input-output distances, backward"));
}

// ---------------------------------------------------------------------------
// Acceptance on records whose working lists are written by hand.

class Acceptance : public ::testing::Test {
 protected:
  void make(bool real, std::int64_t n) {
    release();
    ASSERT_EQ(real ? dft::create_child_descriptor_r2c_1d_float(&r, n, nullptr)
                   : dft::create_child_descriptor_c2c_1d_float(&r, n, nullptr),
              0);
    r->work_lengths.count = 1;
    r->work_lengths.records[0] = dft::dim_record{n, 1, 1, 0, 0};
    r->work_batch.count = 1;
    r->work_batch.records[0] = dft::dim_record{1, 0, 0, 0, 0};
  }
  void batch(std::int64_t count, std::int64_t in, std::int64_t out, std::int64_t fwd, std::int64_t bwd) {
    r->work_batch.records[0] = dft::dim_record{count, in, out, fwd, bwd};
  }
  void release() {
    if (r != nullptr) r->free(r, r);
    r = nullptr;
  }
  ~Acceptance() override { release(); }
  DFTI_DESCRIPTOR* r = nullptr;
};

TEST_F(Acceptance, LengthsOfBothDomains) {
  for (std::int64_t m : {p25, p26, p27, odd_length}) {
    make(false, m);
    EXPECT_TRUE(vl::accepts(r)) << m;
    make(true, 2 * m);
    EXPECT_TRUE(vl::accepts(r)) << 2 * m;
  }
  make(false, std::int64_t{1} << 24);
  EXPECT_FALSE(vl::accepts(r));
  make(true, p25);
  EXPECT_FALSE(vl::accepts(r));
}

TEST_F(Acceptance, StorageRankStridesOffsetsAndPostTwiddle) {
  const auto declines = [&](const char* what, void (*change)(DFTI_DESCRIPTOR*)) {
    make(false, p25);
    ASSERT_TRUE(vl::accepts(r));
    change(r);
    EXPECT_FALSE(vl::accepts(r)) << what;
  };
  declines("split storage", [](DFTI_DESCRIPTOR* x) { x->complex_storage = dft::dfti_real_real; });
  declines("rank 2", [](DFTI_DESCRIPTOR* x) { x->work_lengths.count = 2; });
  declines("batch rank 2", [](DFTI_DESCRIPTOR* x) { x->work_batch.count = 2; });
  declines("input stride", [](DFTI_DESCRIPTOR* x) { x->work_lengths.records[0].input = 2; });
  declines("output stride", [](DFTI_DESCRIPTOR* x) { x->work_lengths.records[0].output = 2; });
  declines("input offset", [](DFTI_DESCRIPTOR* x) { x->in_offset = 1; });
  declines("output offset", [](DFTI_DESCRIPTOR* x) { x->out_offset = 1; });
  declines("forward offset", [](DFTI_DESCRIPTOR* x) { x->fwd_offset = 1; });
  declines("backward offset", [](DFTI_DESCRIPTOR* x) { x->bwd_offset = 1; });
  declines("post-twiddle", [](DFTI_DESCRIPTOR* x) { x->fused_twiddle_length = 4; });
  declines("domain", [](DFTI_DESCRIPTOR* x) { x->domain = 0; });

  // Domain strides stand in for absent input/output strides.
  make(false, p25);
  r->work_lengths.records[0] = dft::dim_record{p25, 0, 0, 1, 1};
  EXPECT_TRUE(vl::accepts(r));
  r->work_lengths.records[0].backward = 3;
  EXPECT_FALSE(vl::accepts(r));

  make(true, p26);
  r->real_storage = dft::dfti_complex_real;
  EXPECT_FALSE(vl::accepts(r));
  make(true, p26);
  r->conjugate_even_storage = dft::dfti_real_real;
  EXPECT_FALSE(vl::accepts(r));
  make(true, p26);
  r->packed_format = dft::dfti_pack_format;
  EXPECT_FALSE(vl::accepts(r));
}

TEST_F(Acceptance, ComplexBatchDistances) {
  const std::int64_t n = p25;
  make(false, n);
  batch(2, 0, 0, n, n);
  EXPECT_TRUE(vl::accepts(r));
  batch(2, 0, 0, n - 1, n);
  EXPECT_FALSE(vl::accepts(r));
  batch(2, 0, 0, n, n - 1);
  EXPECT_FALSE(vl::accepts(r));
  batch(2, n, n + 1, 0, 0);
  EXPECT_TRUE(vl::accepts(r));
  batch(2, n - 1, n, 0, 0);
  EXPECT_FALSE(vl::accepts(r));
  // One given domain distance alone: the input/output pair decides.
  batch(2, n, n, n - 1, 0);
  EXPECT_TRUE(vl::accepts(r));
  batch(1, 0, 0, 1, 1);  // a single transform: distances do not matter
  EXPECT_TRUE(vl::accepts(r));
}

TEST_F(Acceptance, RealBatchDistances) {
  const std::int64_t n = p26, half = n / 2;
  make(true, n);
  batch(2, 0, 0, n + 2, half + 1);
  EXPECT_TRUE(vl::accepts(r));
  batch(2, 0, 0, n + 1, half + 1);  // odd real distance
  EXPECT_FALSE(vl::accepts(r));
  batch(2, 0, 0, n + 2, half);  // no room for the Nyquist value
  EXPECT_FALSE(vl::accepts(r));
  // Input/output form, either sense.
  batch(2, n + 2, half + 1, 0, 0);
  EXPECT_TRUE(vl::accepts(r));
  batch(2, half + 1, n + 2, 0, 0);
  EXPECT_TRUE(vl::accepts(r));
  batch(2, n + 1, half + 1, 0, 0);  // odd input distance of at least N
  EXPECT_FALSE(vl::accepts(r));
  batch(2, half + 1, half + 1, 0, 0);
  EXPECT_FALSE(vl::accepts(r));
}

}  // namespace
