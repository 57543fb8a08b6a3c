// Host-side checks of the codelet generator: exact constants, the chosen
// decompositions, the embedding, and the embedded texts themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>

#include "butterflies.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "embed.hpp"
#include "emitter.hpp"
#include "families.hpp"
#include "program_sections.hpp"
#include "unit_roots.hpp"

namespace qez_codelets {
namespace {

const long double pi = 3.141592653589793238462643383279502884L;

TEST(root_of_unity, quadrant_angles_are_exact) {
  for (int n : {4, 8, 12, 60, 64}) {
    for (int quarter = 0; quarter < 4; ++quarter) {
      const unit_root w = root_of_unity(quarter * n / 4, n);
      EXPECT_EQ(std::fabs(w.cosine), quarter % 2 == 0 ? 1.0L : 0.0L) << n << " " << quarter;
      EXPECT_EQ(std::fabs(w.sine), quarter % 2 == 0 ? 0.0L : 1.0L) << n << " " << quarter;
    }
  }
}

TEST(root_of_unity, matches_the_definition_and_its_symmetries) {
  for (int n = 1; n <= 64; ++n) {
    for (int m = -n; m <= 2 * n; ++m) {
      const unit_root w = root_of_unity(m, n);
      // The direct evaluation at angles beyond 2*pi loses a few long-double
      // units itself; 8e-18 is still far below a double's resolution.
      const long double angle = 2 * pi * m / n;
      EXPECT_LE(std::fabs(w.cosine - std::cos(angle)), 8e-18L) << m << "/" << n;
      EXPECT_LE(std::fabs(w.sine - std::sin(angle)), 8e-18L) << m << "/" << n;
      const unit_root mirror = root_of_unity(n - m, n);
      EXPECT_EQ(w.cosine, mirror.cosine);
      EXPECT_EQ(w.sine, -mirror.sine);
    }
  }
}

TEST(emitter_literal, denotes_exactly_the_value_rounded_to_the_precision) {
  std::ostringstream sink;
  const emitter double_emitter(sink, precision::double_precision);
  const emitter single_emitter(sink, precision::single_precision);
  for (int n = 3; n <= 64; ++n) {
    const long double c = root_of_unity(1, n).cosine;
    const std::string d = double_emitter.literal(c);
    const std::string s = single_emitter.literal(c);
    EXPECT_EQ(std::strtod(d.c_str(), nullptr), static_cast<double>(c)) << d;
    ASSERT_EQ(s.back(), 'f') << s;
    EXPECT_EQ(std::strtof(s.c_str(), nullptr), static_cast<float>(c)) << s;
  }
}

TEST(choose_plan, splits_composites_and_pairs_odd_primes) {
  for (int n = 3; n <= 64; ++n) {
    const plan p = choose_plan(n);
    bool prime = true;
    for (int d = 2; d * d <= n; ++d) prime = prime && n % d != 0;
    if (prime) {
      EXPECT_EQ(p.kind, algorithm::odd_prime_pairs) << n;
      continue;
    }
    ASSERT_TRUE(p.kind == algorithm::prime_factor || p.kind == algorithm::cooley_tukey) << n;
    EXPECT_EQ(p.first * p.second, n);
    EXPECT_GT(p.first, 1);
    EXPECT_GT(p.second, 1);
    int a = p.first, b = p.second;
    while (b != 0) std::swap(a %= b, b);  // gcd in a
    EXPECT_EQ(a == 1, p.kind == algorithm::prime_factor) << n;
  }
  EXPECT_EQ(describe_plan(64), "Cooley-Tukey split 8 x 8");
  EXPECT_EQ(describe_plan(60), "prime-factor split 4 x 15");
}

TEST(split_in_chunks, keeps_the_text_and_the_limit) {
  std::string text;
  for (int i = 0; i < 500; ++i) text += "line " + std::to_string(i * i) + "\n";
  text += "no final newline";
  const auto chunks = split_in_chunks(text, 100);
  std::string joined;
  for (const std::string& c : chunks) {
    EXPECT_LE(c.size(), 100u);
    joined += c;
  }
  EXPECT_EQ(joined, text);
}

TEST(embedded_texts, equal_the_generator_output) {
  for (const program_family& family : program_families()) {
    for (bool dp : {false, true}) {
      const char* embedded = ulmara::qez::dft::kernels::program_text(family.name.c_str(), dp);
      ASSERT_NE(embedded, nullptr) << family.name;
      EXPECT_EQ(std::string(embedded),
                program_text(family, dp ? precision::double_precision : precision::single_precision));
    }
  }
  EXPECT_EQ(ulmara::qez::dft::kernels::program_text("no_such_family", true), nullptr);
}

TEST(embedded_texts, hold_every_program_template_in_both_precisions) {
  for (const program_template& t : program_templates()) {
    const std::string text = template_text(t);
    EXPECT_FALSE(text.empty()) << t.name;
    for (bool dp : {false, true}) {
      const char* embedded = ulmara::qez::dft::kernels::program_text(t.name.c_str(), dp);
      ASSERT_NE(embedded, nullptr) << t.name;
      EXPECT_EQ(std::string(embedded), text) << t.name;
    }
  }
}

TEST(embedded_texts, four_factor_twiddle_variant_is_the_family_text_behind_its_selector) {
  namespace k = ulmara::qez::dft::kernels;
  for (bool dp : {false, true}) {
    const char* base = k::program_text(k::family_c2c_1d_4_facts, dp);
    const char* variant = k::program_text(k::family_c2c_1d_4_facts_twiddle, dp);
    ASSERT_NE(base, nullptr);
    ASSERT_NE(variant, nullptr);
    EXPECT_EQ(std::string(variant), std::string("#define FOUR_FACTS_TWIDDLE_PASS 1\n") + base);
  }
  EXPECT_STRNE(k::cache_c2c_1d_4_facts_twiddle, k::family_c2c_1d_2_fact_colbatch_twiddle);
}

TEST(program_names, are_spelled_as_the_backends_expect) {
  namespace k = ulmara::qez::dft::kernels;
  EXPECT_EQ(k::codelet_name(16), "fft_16_s");
  EXPECT_EQ(k::kernel_name(4096, "rowbatch0", "d"), "fft_4096_rowbatch0_d");
  EXPECT_EQ(k::kernel_name("16x16", "fused_SLM", "s"), "fft_16x16_fused_SLM_s");
  EXPECT_EQ(k::colbatch_kernel_name(60, 8, "d"), "fft_60_colbatch_8_d");
  constexpr auto name = k::cache_program_name(k::family_c2c_8k, ".qez_dft_gpu_bkd_c2c_1d_8k_sycl_d");
  EXPECT_STREQ(name.data(), "gpu_framework_c2c_8k.qez_dft_gpu_bkd_c2c_1d_8k_sycl_d");
  char field[8];
  k::copy_name(k::codelet_name(12345), field, sizeof field);
  EXPECT_STREQ(field, "fft_123");
}

TEST(lane_form_macros, replace_the_placeholder_line_with_both_forms) {
  const std::string text = with_lane_form_macros(
      "head\n$LANE_FORMS\ntail\n",
      {lane_active_macro("XY", "lane"), {"XY_ONLY(a)", "(a)", "", "/* pairs only */"},
       lane_pm_one_macro("XY", "lane", "XY_SIGN")});
  EXPECT_EQ(text,
            "head\n#ifdef LANE_PAIRS\n#define XY_ACTIVE(lane) 1\n/* pairs only */\n#define XY_ONLY(a) (a)\n"
            "#define XY_PM_ONE(lane) ((((lane) & 1) ? (ftype)-1 : (ftype)1) * XY_SIGN)\n#else\n"
            "#define XY_ACTIVE(lane) (((lane) & 1) == 0)\n#define XY_PM_ONE(lane) ((ftype)1)\n#endif\ntail\n");
  EXPECT_THROW(with_lane_form_macros("no placeholder\n", {}), std::logic_error);
}

// The n-factor column-batch kernel writes its results as the planner's
// cost model counts them: sub-group block writes of 8, 4, 2 and 1
// registers with a lane-by-lane head and tail, in every export form, and no
// export loop of single words over the work-group.
TEST(embedded_texts, n_fact_colbatch_exports_in_block_writes) {
  namespace k = ulmara::qez::dft::kernels;
  for (bool dp : {false, true}) {
    const std::string text = k::program_text(k::family_c2c_1d_n_fact_colbatch, dp);
    EXPECT_NE(text.find(dp ? "#define CB_BLOCK_WRITE(p, v) tavir_sub_group_block_write_ul("
                           : "#define CB_BLOCK_WRITE(p, v) tavir_sub_group_block_write("),
              std::string::npos);
    const std::size_t run = text.find("static inline void cb_write_run(");
    ASSERT_NE(run, std::string::npos);
    EXPECT_NE(text.find("for (uint regs = 8; regs >= 1; regs /= 2)", run), std::string::npos);
    EXPECT_NE(text.find("cb_block_write(dst + first + k * SUBGROUP_SIZE", run), std::string::npos);
    const std::size_t exports = text.find("/* Export, in block writes");
    ASSERT_NE(exports, std::string::npos);
    int runs = 0;
    for (std::size_t at = text.find("cb_write_run(dst", exports); at != std::string::npos;
         at = text.find("cb_write_run(dst", at + 1))
      ++runs;
    EXPECT_EQ(runs, 4);  // transposed, contiguous, rows, rows left over
    EXPECT_EQ(text.find("e += WORKGROUP_SIZE", exports), std::string::npos);
  }
}

TEST(embedded_texts, hold_every_guarded_codelet_and_helper) {
  for (bool dp : {false, true}) {
    const std::string text = ulmara::qez::dft::kernels::program_text_c2c_1d_def(dp);
    EXPECT_EQ(text.rfind("/* Generated by", 0), 0u);
    EXPECT_NE(text.find(dp ? "typedef double ftype;" : "typedef float ftype;"), std::string::npos);
    for (int size = 1; size <= 64; ++size) {
      const std::string guard = "#if NEED_FFT_FUNC(" + std::to_string(size) + ")\n";
      const std::size_t at = text.find(guard);
      ASSERT_NE(at, std::string::npos) << size;
      const std::string signature =
          "static inline void fft_" + std::to_string(size) + "_s(ptype *in, const ftype pmOne)";
      EXPECT_NE(text.find(signature, at), std::string::npos) << size;
    }
    for (const char* item : {"ODD_DEFAULT_FUNC(", "EVEN_DEFAULT_FUNC(", "#define TWIDL_MULT_INPLACE",
                             "#define swapReIm"})
      EXPECT_NE(text.find(item), std::string::npos) << item;
    EXPECT_NE(text.find(dp ? "kernel void copy_output_d(" : "kernel void copy_output_s("),
              std::string::npos);
  }
}

}  // namespace
}  // namespace qez_codelets
