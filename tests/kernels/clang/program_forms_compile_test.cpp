// Every program family, in both precisions and in both lane forms (portable,
// and lane pairs as a device with cl_tavir_subgroups and
// cl_tavir_subgroups_long compiles it), goes through clang's OpenCL C front
// end with build options the backends give, for a GPU (SPIR target) and for
// this machine's CPU as PoCL compiles it (x86-64, whose portable forms hold
// sections of their own). The vendor built-ins come from a header of
// declarations only, so a call with a wrong type, a missing built-in, a fault
// among the chosen warnings or any other warning fails the compile.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "dft/gpu/backends/1d_basic/default_1d/plan.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "families.hpp"
#include "tests/backends/support/option_goldens.hpp"

namespace {

namespace kernels = ulmara::qez::dft::kernels;
namespace default_1d = ulmara::qez::dft::default_1d;
using backend_test::golden_options;
using backend_test::precision;

// Warnings that point at real faults of a program text; each one fails the
// compile.
const char* const fault_warnings[] = {
    "implicit-function-declaration", "implicit-int", "return-type", "uninitialized",
    "sometimes-uninitialized", "incompatible-pointer-types", "incompatible-pointer-types-discards-qualifiers",
    "int-conversion", "array-bounds", "shift-count-overflow", "shift-count-negative", "division-by-zero",
    "macro-redefined", "unknown-attributes", "ignored-attributes", "constant-conversion", "literal-conversion",
    "unused-value", "self-assign", "sizeof-array-argument", "tautological-compare", "parentheses",
    "conditional-uninitialized", "format", "implicit-float-conversion",
    "float-overflow-conversion", "undefined-internal", "extra-tokens", "unused-result", "address-of-temporary",
    "pointer-bool-conversion", "null-dereference", "bitwise-op-parentheses", "logical-op-parentheses"};

// One set of build options of a backend: from the option goldens (the
// backend's plan tests pin them character for character), or written here
// where the goldens have none, in the backend's own format.
struct option_set {
  const char* family;
  const char* backend;  // golden key, or a label when `options` is given
  precision golden_precision;
  const char* plan;
  const char* options;  // null: the golden's options
  // The options size memory by the precision (shared-memory bytes), so
  // the other precision needs options of its own.
  bool own_precision_only = false;
};

constexpr precision sp = precision::single_precision;
constexpr precision dp = precision::double_precision;

// clang-format off
const option_set option_sets[] = {
    {kernels::family_c2c_1d_def, "default_1d", dp, "1000 out of place, forward", nullptr},
    {kernels::family_c2c_1d_def, "default_1d", sp, "53 x 3 in place, backward scaled", nullptr},
    {kernels::family_c2c_1d_def, "default_1d", dp, "53 x 2 x 3 input/output layout, forward", nullptr},
    {kernels::family_c2c_1d_4_facts, "four_factor", dp, "2880 x 2 on Harix, pass 0 forward", nullptr},
    {kernels::family_c2c_1d_4_facts_twiddle, "four_factor", dp, "2880 x 2 on Harix, pass 1 backward", nullptr},
    {kernels::family_c2c_1d_2_fact_colbatch_twiddle, "four_factor_colbatch", dp, "Gulon 16, pass 0 forward", nullptr},
    {kernels::family_c2c_1d_2_fact_colbatch_twiddle, "four_factor_colbatch", dp, "Gulon 16, pass 1 backward", nullptr},
    {kernels::family_c2c_3d_2_facts, "md_2d", dp, "fused 192, forward", nullptr},
    {kernels::family_c2c_3d_2_facts, "md_3d", dp, "fused 135 cube x 3, backward", nullptr},
    {kernels::family_c2c_3d_2_facts, "md_3d", sp, "fused 128 square x 2, forward", nullptr},
    {kernels::family_c2c_2d_small, "md_2d_small", sp, "32 on Gulon, forward", nullptr},
    {kernels::family_c2c_2d_small, "md_2d_small", dp, "64 on Harix, backward", nullptr},
    {kernels::family_c2c_1d_n_fact_colbatch, "n_fact_colbatch", dp, "8 x 2 columns, forward", nullptr},
    {kernels::family_small_md_slm, "small_md", dp, "complex 64, forward", nullptr},
    {kernels::family_small_md_slm, "small_md", sp, "complex 16 x 32, backward", nullptr, true},
    {kernels::family_small_md_slm, "small_md", dp, "real 128, forward", nullptr},
    {kernels::family_c2c_1d_3_facts, "three_factor", dp, "160 x 3 input/output distances on Gulon, pass 0 forward", nullptr},
    {kernels::family_c2c_1d_3_facts, "three_factor", dp, "160 x 3 input/output distances on Gulon, pass 2 backward", nullptr},
    {kernels::family_c2c_1d_3_facts, "three_factor", sp, "324 on Gulon, pass 1 forward", nullptr},
    {kernels::family_c2c_1d_2_facts, "two_factor", sp, "2048, backward", nullptr},
    {kernels::family_c2c_1d_2_facts, "two_factor", dp, "1020 x 5, forward", nullptr},
    {kernels::family_c2c_1d_2_facts, "two_factor", dp, "1024, backward", nullptr},
    {kernels::family_c2c_1d_2_facts, "two_factor", sp, "4096, forward", nullptr},
    {kernels::family_real_pre_and_post_processing, "very_large_1d", sp, "real kernel, forward-backward distances, forward", nullptr},
    {kernels::family_real_pre_and_post_processing, "very_large_1d", sp, "real kernel, input-output distances, backward", nullptr},
    // The 8192-point backend's factorised plan (tests/backends/eight_k).
    {kernels::family_c2c_8k, "eight_k", dp, "8192 factorised, forward",
     "-Dcl_tavir_subgroups_long -DN0=128 -DN0_FACT0=16 -DN0_FACT1=8 -DN1=64 -DN1_FACT0=8 -DN1_FACT1=8 "
     "-DTRANSPOSE_OUTPUT_FUNC=fft_8192_fact_128_d -DN0_FACT0_FUNC=fft_16_s -DN0_FACT1_FUNC=fft_8_s "
     "-DSAME_ORIENTATION_OUTPUT_FUNC=fft_8192_fact_64_d -DN1_FACT0_FUNC=fft_8_s -DN1_FACT1_FUNC=fft_8_s "
     "-DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=8192 -DODIST=8192 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DCOLS_PER_WG=4 "},
    // The n-factor shared-memory plans of 2048 points, with and without the
    // pre-twiddle pass (tests/backends/n_facts_slm_pre_twiddle).
    {kernels::family_c2c_1d_n_facts_slm, "n_facts_slm_pre_twiddle", dp, "2048 x 16, forward",
     "-Dcl_tavir_subgroups_long -DFFT_LEN=2048 -DFACT0=4 -DFACT1=8 -DFACT2=8 -DFACT3=8 -DMAX_FACT=8 "
     "-DKERNEL_FUNC=fft_2048_n_fact_slm_8_d -DFACT0_FUNC=fft_4_s -DFACT1_FUNC=fft_8_s -DFACT2_FUNC=fft_8_s "
     "-DFACT3_FUNC=fft_8_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=2048 -DODIST=2048 -DWORK_GROUP_SIZE=512 "
     "-DSUBGROUP_SIZE=16 -DUSE_PRE_TWIDDLE -DUSE_PRECOMPUTED_PRE_TWIDDLE "},
    {kernels::family_c2c_1d_n_facts_slm, "n_facts_slm", sp, "2048 x 3 backward, load tails",
     "-DFFT_LEN=2048 -DFACT0=4 -DFACT1=8 -DFACT2=8 -DFACT3=8 -DMAX_FACT=8 "
     "-DKERNEL_FUNC=fft_2048_n_fact_slm_8_s -DFACT0_FUNC=fft_4_s -DFACT1_FUNC=fft_8_s -DFACT2_FUNC=fft_8_s "
     "-DFACT3_FUNC=fft_8_s -DFWD_DIR=0 -DBWD_DIR=1 -DIDIST=2048 -DODIST=2048 -DWORK_GROUP_SIZE=512 "
     "-DSUBGROUP_SIZE=16 -DLOAD_STORE_TAIL=3 -DLOAD_LOOP_BOUND=2 -DLOAD_LOOP_TAIL=1 "},
    // The real 1D backend's pre- and post-processing kernels, odd length
    // with an odd batch.
    {kernels::family_r2c_1d_def, "r2c_1d", sp, "odd 45 x 3, forward",
     "-DFWD -DIS=1 -DOS=1 -DFWD_D=45 -DBWD_D=23 -DTD=45 -DNUM_PTS=45 -DN_IS_EVEN=0 -DODDBATCH_SZ=3 "},
    {kernels::family_r2c_1d_def, "r2c_1d", dp, "even 64, backward",
     "-DBWD -DIS=1 -DOS=1 -DFWD_D=64 -DBWD_D=33 -DTD=32 -DNUM_PTS=64 -DN_IS_EVEN=1 "},
    // The 2D main backend's transposes (tests/backends/md_2d).
    {kernels::family_transpose, "md_2d", sp, "transpose 16384 square",
     "-DKERNEL_FUNC=transpose_r16384_c16384_vr1_vw2 -DWORK_GROUP_SIZE=1024 -DSUBGROUP_SIZE=32 "
     "-DNUM_ROWS=16384 -DNUM_COLS=16384 -DVECTOR_READ_SIZE=1 -DVECTOR_WRITE_SIZE=2 "},
    // The large 1D backend's batched strided transposes, per precision.
    {kernels::family_blas_transpose, "large_1d", dp, "complex double transpose",
     "-DCOMPLEX16 -DTRANSPOSE -DOUT_OF_PLACE -DBATCHED_STRIDED"},
    {kernels::family_blas_transpose, "large_1d", sp, "complex single transpose",
     "-DSINGLE_PRECISION -DCOMPLEX -DTRANSPOSE -DOUT_OF_PLACE -DBATCHED_STRIDED"},
};
// clang-format on

// The targets a program form is compiled for: a GPU's, and PoCL's on this
// machine, which alone compiles the CPU sections of the portable forms
// (streamed stores, prefetches, tabled roots of the direct DFTs).
const char* const targets[] = {"spir64", "x86_64-unknown-linux-gnu"};

const char long_sub_groups[] = "-Dcl_tavir_subgroups_long ";

// The options as the backend gives them in precision `p`: double builds
// start with the 64-bit block moves, single builds do not.
std::string options_in(const option_set& s, precision p) {
  std::string o = s.options ? s.options : golden_options(s.backend, s.golden_precision, s.plan);
  const bool had_long = o.rfind(long_sub_groups, 0) == 0;
  if (p == s.golden_precision) return o;
  if (p == dp && !had_long) return long_sub_groups + o;
  if (p == sp && had_long) return o.substr(sizeof long_sub_groups - 1);
  return o;
}

// The -D options of a build (vendor options such as the register-file one
// mean nothing to clang).
std::vector<std::string> defines_of(const std::string& options) {
  std::istringstream in(options);
  std::vector<std::string> out;
  for (std::string word; in >> word;)
    if (word.rfind("-D", 0) == 0) out.push_back(word);
  return out;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct compile_result {
  int status;
  std::string log;
};

compile_result compile_with_clang(const std::string& text, const std::string& options, bool lane_pairs,
                                  const char* target = targets[0]) {
  if (std::string(QEZ_OPENCL_CLANG).empty()) return {-1, "no clang (Debian package clang-14) was found at configure time"};
  char path[] = "/tmp/qez_program_form_XXXXXX.cl";
  const int fd = mkstemps(path, 3);
  if (fd < 0) return {-1, "cannot make a temporary file"};
  close(fd);
  std::ofstream(path, std::ios::binary) << text;
  std::string command = std::string(QEZ_OPENCL_CLANG) +
                        " -cl-std=CL2.0 -target " + target + " -fsyntax-only -Xclang -finclude-default-header"
                        " -Wall -Wextra -Wno-unused-parameter -Wno-unused-function -Wno-unused-variable"
                        " -Wno-unused-macros -Wno-ignored-pragmas -Wno-sign-compare"
                        " -include " QEZ_TAVIR_BUILTINS_HEADER;
  for (const char* w : fault_warnings) command += std::string(" -Werror=") + w;
  if (lane_pairs) command += " -Dcl_tavir_subgroups -Dcl_tavir_subgroups_long";
  for (const std::string& d : defines_of(options)) command += " " + quoted(d);
  command += " " + std::string(path) + " 2>&1";
  compile_result r{-1, ""};
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.log.append(buf, n);
    r.status = pclose(p);
  }
  std::remove(path);
  return r;
}

// A clean compile: status 0 and not one warning.
testing::AssertionResult compiled_cleanly(const compile_result& r) {
  if (r.status == 0 && r.log.find("warning:") == std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "status " << r.status << ":\n" << r.log;
}

struct compile_case {
  const option_set* set;
  precision p;
  bool lane_pairs;
  const char* target;
};

std::vector<compile_case> all_cases() {
  std::vector<compile_case> cases;
  for (const option_set& s : option_sets)
    for (precision p : {sp, dp})
      if (!s.own_precision_only || p == s.golden_precision)
        for (bool lanes : {false, true})
          for (const char* target : targets) cases.push_back({&s, p, lanes, target});
  return cases;
}

// "_spir64", "_x86_64": the target's architecture.
std::string target_suffix(const std::string& target) { return "_" + target.substr(0, target.find('-')); }

// A test name: every character outside [A-Za-z0-9] becomes '_'.
std::string test_name(std::string name) {
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

std::string case_name(const testing::TestParamInfo<compile_case>& info) {
  return test_name(std::string(info.param.set->family) + "_" + info.param.set->backend + "_" +
                   std::to_string(info.index) + (info.param.p == dp ? "_d" : "_s") +
                   (info.param.lane_pairs ? "_lane_pairs" : "_portable") + target_suffix(info.param.target));
}

class ProgramForm : public testing::TestWithParam<compile_case> {};

TEST_P(ProgramForm, CompilesWithoutWarnings) {
  const compile_case& c = GetParam();
  const char* text = kernels::program_text(c.set->family, c.p == dp);
  ASSERT_NE(text, nullptr) << c.set->family;
  const std::string options = options_in(*c.set, c.p);
  EXPECT_TRUE(compiled_cleanly(compile_with_clang(text, options, c.lane_pairs, c.target)))
      << c.set->family << " with " << options << (c.lane_pairs ? " as lane pairs" : "") << " for " << c.target;
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, ProgramForm, testing::ValuesIn(all_cases()), case_name);

// The default 1D backend's programs are made at commit: its prelude, the
// family text above and one pass kernel per factor printed from a template,
// with options that select the portable form. Plans that reach each template
// (registers, staged registers, direct DFTs of odd and even sizes, shared
// memory) and the copy kernel, in both precisions.
struct default_1d_plan {
  const char* label;
  std::int64_t length, batch;
  bool in_place;
  default_1d::direction direction;
};

// clang-format off
const default_1d_plan default_1d_plans[] = {
    {"1000, register passes", 1000, 1, false, default_1d::dir_forward},
    {"4096 x 2, staged first pass", 4096, 2, false, default_1d::dir_forward},
    {"75 x 25 in place, shared memory", 75, 25, true, default_1d::dir_backward},
    {"53 x 3 in place, copy kernel (a direct DFT in double)", 53, 3, true, default_1d::dir_backward},
    {"4099, odd direct DFT", 4099, 1, false, default_1d::dir_forward},
    {"2^27, even direct DFTs and a register pass", std::int64_t{1} << 27, 1, false, default_1d::dir_backward},
};
// clang-format on

constexpr std::uint32_t arch_gulon = 5;

struct default_1d_program {
  std::string source, options;
  bool fits;
};

template <class T>
default_1d_program program_of(const default_1d_plan& row) {
  default_1d::plan_request q;
  q.dimension = {row.length, 0, 0, 1, 1};
  if (row.batch > 1) {
    q.batch_rank = 1;
    q.batch[0] = {row.batch, 0, 0, row.length, row.length};
  }
  q.in_place = row.in_place;
  q.architecture = arch_gulon;
  default_1d::block<T> b{};
  default_1d::fill_plan(b, q);
  const default_1d::direction_program p = default_1d::describe_program(b, row.direction);
  return {default_1d::program_source(b, p), p.options, p.fits};
}

struct default_1d_case {
  const default_1d_plan* plan;
  precision p;
  const char* target;
};

std::vector<default_1d_case> default_1d_cases() {
  std::vector<default_1d_case> cases;
  for (const default_1d_plan& plan : default_1d_plans)
    for (precision p : {sp, dp})
      for (const char* target : targets) cases.push_back({&plan, p, target});
  return cases;
}

std::string default_1d_case_name(const testing::TestParamInfo<default_1d_case>& info) {
  return test_name(std::to_string(info.index) + (info.param.p == dp ? "_d_" : "_s_") + info.param.plan->label +
                   target_suffix(info.param.target));
}

class DefaultProgram : public testing::TestWithParam<default_1d_case> {};

TEST_P(DefaultProgram, CompilesWithoutWarnings) {
  const default_1d_case& c = GetParam();
  const default_1d_program program = c.p == dp ? program_of<double>(*c.plan) : program_of<float>(*c.plan);
  ASSERT_TRUE(program.fits) << c.plan->label;
  EXPECT_TRUE(compiled_cleanly(compile_with_clang(program.source, program.options, false, c.target)))
      << c.plan->label << " with " << program.options << " for " << c.target;
}

INSTANTIATE_TEST_SUITE_P(DefaultOneDimensional, DefaultProgram, testing::ValuesIn(default_1d_cases()),
                         default_1d_case_name);

// The lane-pair form really is another program: a text that calls a vendor
// built-in with the wrong type fails, and the built-ins are not there without
// the header.
TEST(ProgramFormCheck, AWrongBuiltInCallFails) {
  const char text[] =
      "#pragma OPENCL EXTENSION cl_tavir_subgroups : enable\n"
      "kernel void k(global float* p) { p[0] = as_float(tavir_sub_group_block_read(p)); }\n";
  const compile_result r = compile_with_clang(text, "", true);
  EXPECT_NE(r.status, 0) << r.log;
  EXPECT_NE(r.log.find("tavir_sub_group_block_read"), std::string::npos) << r.log;
}

TEST(ProgramFormCheck, EveryFamilyHasAnOptionSet) {
  for (const qez_codelets::program_family& family : qez_codelets::program_families()) {
    for (precision p : {sp, dp}) {
      bool found = false;
      for (const compile_case& c : all_cases()) found = found || (family.name == c.set->family && c.p == p);
      EXPECT_TRUE(found) << family.name << (p == dp ? " double" : " single");
    }
  }
}

}  // namespace
