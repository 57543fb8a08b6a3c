// From FFTW-style arguments to descriptor settings: the layout rules of the C
// planners (embeddings, strides, in-place real rows), the plan recipes with
// their settings in order, the refusals of the cores, and the Fortran-order
// conversions of the CPU entries read back from the descriptors they make.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "interfaces/fftw/fftw_dims.hpp"
#include "interfaces/fftw/fftw_execute.hpp"
#include "interfaces/fftw/fftw_plan_core.hpp"
#include "qez_fftw3.h"
#include "qez_service_control.h"
#include "tests/interfaces/fftw/plan_inspection.hpp"

namespace ulmara {
namespace qez {
namespace dft {
bool operator==(const iodim64& a, const iodim64& b) {
  return a.n == b.n && a.is == b.is && a.os == b.os;
}
std::ostream& operator<<(std::ostream& os, const iodim64& d) {
  return os << "{" << d.n << ", " << d.is << ", " << d.os << "}";
}
}  // namespace dft
}  // namespace qez
}  // namespace ulmara

namespace {

namespace dft = ulmara::qez::dft;
using dft::iodim64;
using dft::plan_kind;
using qez_test::descriptor_settings;
using qez_test::plan_owner;

constexpr std::uint32_t complex_domain = 32, real_domain = 33;
constexpr std::uint32_t single_precision = 35, double_precision = 36;
constexpr std::uint32_t in_place = 43, not_in_place = 44;
constexpr std::uint32_t allow = 51, avoid = 52, complex_complex = 39;

std::vector<iodim64> as_vector(const iodim64* d, int rank) { return {d, d + rank}; }

// ---------------------------------------------------------------------------
// C layout rules.

std::vector<iodim64> c_basic(plan_kind kind, std::vector<int> n, bool in_place_plan) {
  iodim64 dims[7] = {};
  const int rank = static_cast<int>(n.size());
  EXPECT_TRUE(dft::c_many_dims(kind, rank, n.data(), nullptr, 1, nullptr, 1, in_place_plan, dims));
  return as_vector(dims, rank);
}

TEST(FftwCLayout, InPlaceRealToComplexPadsTheRealRows) {
  // 4 x 6: real rows padded to 8, complex rows of 4.
  const std::vector<iodim64> expected{{4, 8, 4}, {6, 1, 1}};
  EXPECT_EQ(c_basic(plan_kind::r2c, {4, 6}, true), expected);
}

TEST(FftwCLayout, OutOfPlaceRealToComplexKeepsTheRealRows) {
  const std::vector<iodim64> expected{{4, 6, 4}, {6, 1, 1}};
  EXPECT_EQ(c_basic(plan_kind::r2c, {4, 6}, false), expected);
}

TEST(FftwCLayout, ComplexToRealMirrorsTheRows) {
  const std::vector<iodim64> in_place_dims{{4, 4, 8}, {6, 1, 1}};
  EXPECT_EQ(c_basic(plan_kind::c2r, {4, 6}, true), in_place_dims);
  const std::vector<iodim64> out_of_place_dims{{4, 4, 6}, {6, 1, 1}};
  EXPECT_EQ(c_basic(plan_kind::c2r, {4, 6}, false), out_of_place_dims);
}

TEST(FftwCLayout, OddRealLengthsHalveDownward) {
  // n = 7: 4 complex values per row, real rows of 8 in place.
  const std::vector<iodim64> expected{{3, 5 * 8, 5 * 4}, {5, 8, 4}, {7, 1, 1}};
  EXPECT_EQ(c_basic(plan_kind::r2c, {3, 5, 7}, true), expected);
}

TEST(FftwCLayout, BasicComplexIsContiguousRowMajor) {
  const std::vector<iodim64> expected{{2, 60, 60}, {3, 20, 20}, {4, 5, 5}, {5, 1, 1}};
  EXPECT_EQ(c_basic(plan_kind::c2c, {2, 3, 4, 5}, false), expected);
}

TEST(FftwCLayout, ManyRuleUsesEmbeddingsAndStridesButNeverTheFirstEmbedding) {
  const int n[] = {4, 6};
  const int inembed[] = {-99, 10};  // the first entry is never read
  const int onembed[] = {-99, 7};
  iodim64 dims[7] = {};
  ASSERT_TRUE(dft::c_many_dims(plan_kind::c2c, 2, n, inembed, 2, onembed, 3, false, dims));
  const std::vector<iodim64> expected{{4, 20, 21}, {6, 2, 3}};
  EXPECT_EQ(as_vector(dims, 2), expected);
}

TEST(FftwCLayout, RankZeroBuildsNothingAndStrideOverflowIsRefused) {
  iodim64 dims[7] = {};
  EXPECT_TRUE(dft::c_many_dims(plan_kind::c2c, 0, nullptr, nullptr, 1, nullptr, 1, false, dims));
  EXPECT_FALSE(dft::c_many_dims(plan_kind::c2c, -1, nullptr, nullptr, 1, nullptr, 1, false, dims));
  const int big = std::numeric_limits<int>::max();
  const int n[] = {big, big, big, big};
  EXPECT_FALSE(dft::c_many_dims(plan_kind::c2c, 4, n, nullptr, 1, nullptr, 1, false, dims))
      << "a stride of 2^93 is refused, not wrapped";
}

TEST(FftwNestedStrides, ThirtyTwoBitRowsGrowPastThirtyTwoBits) {
  const std::int64_t rows[] = {65536, 65536};
  std::int64_t strides[3] = {};
  ASSERT_TRUE(dft::nested_strides(3, 2, rows, strides));
  EXPECT_EQ(strides[1], 131072);
  EXPECT_EQ(strides[2], std::int64_t{1} << 33);
  const std::int64_t huge[] = {std::int64_t{1} << 40, std::int64_t{1} << 40};
  EXPECT_FALSE(dft::nested_strides(3, 1, huge, strides));
}

// ---------------------------------------------------------------------------
// Recipes: the settings in the order they are made.

std::string describe(const dft::plan_setting& s, int rank) {
  std::ostringstream text;
  text << s.parameter << " ";
  if (s.form == dft::setting_form::value) {
    text << s.value;
  } else {
    text << "{";
    for (int k = 0; k <= rank; ++k) text << (k ? "," : "") << s.strides[k];
    text << "}";
  }
  return text.str();
}

std::vector<std::string> describe(const dft::plan_recipe& r) {
  std::ostringstream create;
  create << "create " << r.domain << " rank " << r.rank << " {";
  for (int k = 0; k < r.rank; ++k) create << (k ? "," : "") << r.lengths[k];
  create << "}";
  std::vector<std::string> lines{create.str()};
  for (int i = 0; i < r.setting_count; ++i) lines.push_back(describe(r.settings[i], r.rank));
  return lines;
}

struct request_builder {
  std::vector<iodim64> dims;
  std::vector<iodim64> howmany;
  dft::plan_request request(plan_kind kind, void* in, void* out, int sign = -1,
                            unsigned flags = 0) const {
    dft::plan_request r;
    r.kind = kind;
    r.rank = static_cast<int>(dims.size());
    r.dims = dims.data();
    r.howmany_rank = static_cast<int>(howmany.size());
    r.howmany_dims = howmany.empty() ? nullptr : howmany.data();
    r.in = in;
    r.out = out;
    r.sign = sign;
    r.flags = flags;
    return r;
  }
};

float in_array[4], out_array[4];

TEST(FftwRecipe, ForwardComplexBatchSetsEverythingInOrder) {
  const request_builder b{{{6, 8, 8}, {8, 1, 1}}, {{4, 48, 48}}};
  const dft::plan_recipe r = dft::make_plan_recipe(b.request(plan_kind::c2c, in_array, out_array));
  ASSERT_TRUE(r.accepted);
  const std::vector<std::string> expected{"create 32 rank 2 {6,8}", "60 {0,8,1}", "11 44",
                                          "61 {0,8,1}", "7 4", "58 48", "59 48", "27 1"};
  EXPECT_EQ(describe(r), expected);
  EXPECT_TRUE(r.forward);
  EXPECT_FALSE(r.in_place);
}

TEST(FftwRecipe, EverySignButMinusOnePlansBackward) {
  const request_builder b{{{5, 2, 3}}, {{4, 10, 20}}};
  const std::vector<std::string> expected{"create 32 rank 1 {5}", "61 {0,2}", "11 44", "60 {0,3}",
                                          "7 4", "58 20", "59 10", "27 1"};
  for (int sign : {+1, 0, 7}) {
    const dft::plan_recipe r =
        dft::make_plan_recipe(b.request(plan_kind::c2c, in_array, out_array, sign));
    EXPECT_EQ(describe(r), expected) << "sign " << sign;
    EXPECT_FALSE(r.forward);
  }
}

TEST(FftwRecipe, ConserveMemoryAvoidsWorkspaceOnComplexPlansOnly) {
  const request_builder b{{{16, 1, 1}}, {}};
  const dft::plan_recipe c =
      dft::make_plan_recipe(b.request(plan_kind::c2c, in_array, in_array, -1, 4));
  const std::vector<std::string> complex_expected{"create 32 rank 1 {16}", "17 52", "60 {0,1}",
                                                  "61 {0,1}", "27 1"};
  EXPECT_EQ(describe(c), complex_expected) << "in place: no placement setting";
  EXPECT_TRUE(c.in_place);
  const dft::plan_recipe r =
      dft::make_plan_recipe(b.request(plan_kind::r2c, in_array, in_array, -1, 4));
  const std::vector<std::string> real_expected{"create 33 rank 1 {16}", "10 39", "60 {0,1}",
                                               "61 {0,1}", "27 1"};
  EXPECT_EQ(describe(r), real_expected);
}

TEST(FftwRecipe, InPlaceComplexLayoutsMustAgree) {
  const request_builder strides{{{8, 1, 2}}, {}};
  EXPECT_FALSE(dft::make_plan_recipe(strides.request(plan_kind::c2c, in_array, in_array)).accepted);
  const request_builder distances{{{8, 1, 1}}, {{3, 10, 12}}};
  EXPECT_FALSE(
      dft::make_plan_recipe(distances.request(plan_kind::c2c, in_array, in_array)).accepted);
  EXPECT_TRUE(
      dft::make_plan_recipe(distances.request(plan_kind::c2c, in_array, out_array)).accepted);
}

TEST(FftwRecipe, RealPlansSetStorageThenBothStridesThenPlacement) {
  const request_builder b{{{4, 8, 5}, {8, 1, 1}}, {{3, 32, 20}}};
  const dft::plan_recipe r2c =
      dft::make_plan_recipe(b.request(plan_kind::r2c, in_array, out_array));
  const std::vector<std::string> r2c_expected{"create 33 rank 2 {4,8}", "10 39", "60 {0,8,1}",
                                              "61 {0,5,1}", "11 44", "7 3", "58 32", "59 20",
                                              "27 1"};
  EXPECT_EQ(describe(r2c), r2c_expected);
  EXPECT_TRUE(r2c.forward);
  const dft::plan_recipe c2r =
      dft::make_plan_recipe(b.request(plan_kind::c2r, in_array, out_array));
  const std::vector<std::string> c2r_expected{"create 33 rank 2 {4,8}", "10 39", "61 {0,8,1}",
                                              "60 {0,5,1}", "11 44", "7 3", "58 20", "59 32",
                                              "27 1"};
  EXPECT_EQ(describe(c2r), c2r_expected);
  EXPECT_FALSE(c2r.forward);
}

TEST(FftwRecipe, InPlaceRealPlansKeepDifferentStrides) {
  const request_builder b{{{4, 10, 5}, {8, 1, 1}}, {}};
  const dft::plan_recipe r = dft::make_plan_recipe(b.request(plan_kind::r2c, in_array, in_array));
  EXPECT_TRUE(r.accepted);
  const std::vector<std::string> expected{"create 33 rank 2 {4,8}", "10 39", "60 {0,10,1}",
                                          "61 {0,5,1}", "27 1"};
  EXPECT_EQ(describe(r), expected);
}

TEST(FftwRecipe, RequestsOutsideTheLimitsAreRefused) {
  const std::vector<iodim64> dims(8, iodim64{2, 1, 1});
  const iodim64 h[2] = {{2, 1, 1}, {2, 1, 1}};
  auto request = [&](int rank, int howmany_rank, const iodim64* d, const iodim64* hd) {
    dft::plan_request r;
    r.rank = rank;
    r.dims = d;
    r.howmany_rank = howmany_rank;
    r.howmany_dims = hd;
    return dft::plan_request_acceptable(r);
  };
  EXPECT_FALSE(request(8, 0, dims.data(), nullptr)) << "rank 8";
  EXPECT_FALSE(request(-1, 0, dims.data(), nullptr)) << "negative rank";
  EXPECT_FALSE(request(1, 2, dims.data(), h)) << "howmany rank 2";
  EXPECT_TRUE(request(1, -1, dims.data(), nullptr)) << "negative howmany rank: one transform";
  EXPECT_FALSE(request(1, 0, nullptr, nullptr)) << "no dimensions";
  EXPECT_FALSE(request(1, 1, dims.data(), nullptr)) << "no howmany triple";
  EXPECT_TRUE(request(7, 1, dims.data(), h));
  EXPECT_TRUE(request(0, 0, dims.data(), nullptr)) << "rank 0 is left to the descriptor";
  // A zero stride or distance would reach the descriptor as "not given" and
  // be laid out packed, past the caller's arrays (the planner fuzzer's input
  // fftw_planner_fuzzer/zero-output-strides wrote 44 elements past its
  // output so); only dimensions of one element may have it.
  const iodim64 zero_os[] = {{4, 1, 1}, {6, 1, 0}};
  const iodim64 zero_is[] = {{4, 0, 1}};
  const iodim64 single[] = {{1, 0, 0}, {4, 1, 1}};
  const iodim64 zero_dist[] = {{4, 1, 0}};
  EXPECT_FALSE(request(2, 0, zero_os, nullptr)) << "zero output stride";
  EXPECT_FALSE(request(1, 0, zero_is, nullptr)) << "zero input stride";
  EXPECT_TRUE(request(2, 0, single, nullptr)) << "zero strides of a single element";
  EXPECT_FALSE(request(1, 1, dims.data(), zero_dist)) << "zero output distance";
  EXPECT_TRUE(request(1, 1, dims.data(), single)) << "zero distances of one transform";
}

// ---------------------------------------------------------------------------
// The CPU core.

TEST(FftwCpuCore, GuruBatchMakesTheConfiguredCommittedPlan) {
  const iodim64 dims[] = {{6, 8, 8}, {8, 1, 1}};
  const iodim64 howmany{4, 48, 48};
  plan_owner plan(reinterpret_cast<qez_fftw_plan>(
      dft::plan_guru64_dft_cpu<double>(2, dims, 1, &howmany, in_array, out_array, -1, 0)));
  ASSERT_NE(plan.plan, nullptr);
  descriptor_settings expected;
  expected.domain = complex_domain;
  expected.precision = double_precision;
  expected.lengths = {6, 8};
  expected.fwd_strides = {0, 8, 1};
  expected.bwd_strides = {0, 8, 1};
  expected.transforms = 4;
  expected.fwd_distance = 48;
  expected.bwd_distance = 48;
  expected.placement = not_in_place;
  expected.thread_limit = 1;
  expected.workspace = allow;
  expected.conjugate_even_storage = complex_complex;
  EXPECT_EQ(plan.settings(), expected);
  EXPECT_EQ(plan.record()->execute_cpu, &dft::fftw_plan_record_execute_forward_cpu);
  EXPECT_EQ(plan.record()->execute_offload, nullptr);
  EXPECT_EQ(plan.record()->input, static_cast<void*>(in_array));
  EXPECT_EQ(plan.record()->output, static_cast<void*>(out_array));
  EXPECT_EQ(plan.record()->descriptor->commit_status, 30u) << "committed";
}

TEST(FftwCpuCore, InPlacePlansKeepNoOutputAndTakeTheInPlaceOperation) {
  const iodim64 dims[] = {{12, 1, 1}};
  plan_owner plan(reinterpret_cast<qez_fftw_plan>(
      dft::plan_guru64_dft_cpu<float>(1, dims, 0, nullptr, in_array, in_array, +1, 4)));
  ASSERT_NE(plan.plan, nullptr);
  EXPECT_EQ(plan.record()->output, nullptr);
  EXPECT_EQ(plan.record()->execute_cpu, &dft::fftw_plan_record_execute_backward_inplace_cpu);
  EXPECT_EQ(plan.settings().placement, in_place);
  EXPECT_EQ(plan.settings().workspace, avoid);
  EXPECT_EQ(plan.settings().precision, single_precision);
}

TEST(FftwCpuCore, RealPlansTakeTheirDirectionsOperations) {
  const iodim64 dims[] = {{8, 1, 1}};
  plan_owner r2c(reinterpret_cast<qez_fftw_plan>(
      dft::plan_guru64_dft_r2c_cpu<double>(1, dims, 0, nullptr, in_array, out_array, 0)));
  plan_owner c2r(reinterpret_cast<qez_fftw_plan>(
      dft::plan_guru64_dft_c2r_cpu<double>(1, dims, 0, nullptr, in_array, in_array, 0)));
  ASSERT_NE(r2c.plan, nullptr);
  ASSERT_NE(c2r.plan, nullptr);
  EXPECT_EQ(r2c.record()->execute_cpu, &dft::fftw_plan_record_execute_forward_cpu);
  EXPECT_EQ(c2r.record()->execute_cpu, &dft::fftw_plan_record_execute_backward_inplace_cpu);
  EXPECT_EQ(r2c.settings().domain, real_domain);
}

TEST(FftwCpuCore, RefusalsLeaveNothingAllocated) {
  const std::vector<iodim64> dims(8, iodim64{2, 1, 1});
  const iodim64 h[2] = {{2, 1, 1}, {2, 1, 1}};
  const long before = qez_standin_live_allocations();
  EXPECT_EQ(dft::plan_guru64_dft_cpu<double>(8, dims.data(), 0, nullptr, in_array, out_array,
                                             -1, 0),
            nullptr);
  EXPECT_EQ(dft::plan_guru64_dft_cpu<double>(-3, dims.data(), 0, nullptr, in_array, out_array,
                                             -1, 0),
            nullptr);
  EXPECT_EQ(dft::plan_guru64_dft_cpu<double>(1, dims.data(), 2, h, in_array, out_array, -1, 0),
            nullptr);
  // Allocated, then refused by the descriptor or by the layout test.
  EXPECT_EQ(dft::plan_guru64_dft_cpu<double>(0, dims.data(), 0, nullptr, in_array, out_array,
                                             -1, 0),
            nullptr);
  const iodim64 mismatch[] = {{8, 1, 2}};
  EXPECT_EQ(dft::plan_guru64_dft_cpu<float>(1, mismatch, 0, nullptr, in_array, in_array, -1, 0),
            nullptr);
  const iodim64 zero[] = {{0, 1, 1}};
  EXPECT_EQ(dft::plan_guru64_dft_r2c_cpu<float>(1, zero, 0, nullptr, in_array, out_array, 0),
            nullptr);
  EXPECT_EQ(qez_standin_live_allocations(), before);
}

// A howmany rank of 0 or below asks for one transform: the triple, given or
// not, is not read.
TEST(FftwCpuCore, NegativeHowmanyRankPlansOneTransform) {
  const iodim64 dims[] = {{8, 1, 1}};
  const iodim64 unread = {5, 8, 8};
  for (int howmany_rank : {-1, std::numeric_limits<int>::min()}) {
    for (const iodim64* howmany : {&unread, static_cast<const iodim64*>(nullptr)}) {
      dft::fftw_plan_record* plan = dft::plan_guru64_dft_cpu<double>(
          1, dims, howmany_rank, howmany, in_array, out_array, -1, 0);
      ASSERT_NE(plan, nullptr) << howmany_rank;
      EXPECT_EQ(qez_test::read_settings(plan->descriptor).transforms, 1u);
      plan->destroy(dft::public_plan(plan));
    }
  }
  dft::fftw_plan_record* real = dft::plan_guru64_dft_r2c_cpu<float>(1, dims, -1, nullptr,
                                                                     in_array, out_array, 0);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(qez_test::read_settings(real->descriptor).transforms, 1u);
  real->destroy(dft::public_plan(real));
}

TEST(FftwCpuCore, AllocationFailureGivesNull) {
  const iodim64 dims[] = {{8, 1, 1}};
  const long before = qez_standin_live_allocations();
  for (long skip = 0; skip < 3; ++skip) {
    qez_standin_fail_allocations(skip, 1);
    dft::fftw_plan_record* plan =
        dft::plan_guru64_dft_cpu<double>(1, dims, 0, nullptr, in_array, out_array, -1, 0);
    qez_standin_fail_allocations(0, 0);
    if (plan != nullptr) plan->destroy(dft::public_plan(plan));
  }
  EXPECT_EQ(qez_standin_live_allocations(), before) << "whatever failed, nothing stays";
}

// ---------------------------------------------------------------------------
// Fortran-order conversions of the CPU entries, read back from the plans.

descriptor_settings complex_settings(std::uint32_t precision, std::vector<std::int64_t> lengths,
                                     std::vector<std::int64_t> strides) {
  descriptor_settings s;
  s.domain = complex_domain;
  s.precision = precision;
  s.lengths = std::move(lengths);
  s.fwd_strides = strides;
  s.bwd_strides = std::move(strides);
  s.transforms = 1;
  s.placement = not_in_place;
  s.thread_limit = 1;
  s.workspace = allow;
  s.conjugate_even_storage = complex_complex;
  return s;
}

float fin[4], fout[4];
double din[4], dout[4];
float* fin_var = fin;
double* din_var = din;
qez_fftwf_complex* cfin_var = reinterpret_cast<qez_fftwf_complex*>(fin);
qez_fftwf_complex* cfout_var = reinterpret_cast<qez_fftwf_complex*>(fout);
qez_fftw_complex* cdin_var = reinterpret_cast<qez_fftw_complex*>(din);
qez_fftw_complex* cdout_var = reinterpret_cast<qez_fftw_complex*>(dout);
const int forward = -1, backward = +1;
const unsigned no_flags = 0;

TEST(FftwFortranLayout, GuruDimensionsAreReversedIntoRowMajorOrder) {
  const std::int32_t rank = 2, n[] = {8, 6}, is[] = {1, 8}, os[] = {1, 8};
  const std::int32_t howmany_rank = 1, h_n = 4, h_is = 48, h_os = 48;
  qez_fftw_plan p = nullptr;
  sfftw_plan_guru_dft_cpu_lp64(&p, &rank, n, is, os, &howmany_rank, &h_n, &h_is, &h_os,
                               &cfin_var, &cfout_var, &forward, &no_flags);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  descriptor_settings expected = complex_settings(single_precision, {6, 8}, {0, 8, 1});
  expected.transforms = 4;
  expected.fwd_distance = 48;
  expected.bwd_distance = 48;
  EXPECT_EQ(plan.settings(), expected);
}

TEST(FftwFortranLayout, ThreeDimensionalPlansAreContiguousInFortranOrder) {
  const std::int64_t nx = 4, ny = 5, nz = 6;
  qez_fftw_plan p = nullptr;
  dfftw_plan_dft_3d_cpu_ilp64(&p, &nx, &ny, &nz, &cdin_var, &cdout_var, &backward, &no_flags);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(plan.settings(), complex_settings(double_precision, {6, 5, 4}, {0, 20, 4, 1}));
  EXPECT_EQ(plan.record()->execute_cpu, &dft::fftw_plan_record_execute_backward_cpu);
}

struct real_case {
  std::int32_t nx;
  bool in_place;
  bool r2c;
  std::vector<std::int64_t> fwd_strides;  // the real side
  std::vector<std::int64_t> bwd_strides;  // the conjugate-even side
};

TEST(FftwFortranLayout, TwoDimensionalRealPlansPadInPlaceRows) {
  const std::vector<real_case> cases{
      {8, true, true, {0, 10, 1}, {0, 5, 1}},   {8, false, true, {0, 8, 1}, {0, 5, 1}},
      {8, true, false, {0, 10, 1}, {0, 5, 1}},  {8, false, false, {0, 8, 1}, {0, 5, 1}},
      {7, true, true, {0, 8, 1}, {0, 4, 1}},    {7, false, true, {0, 7, 1}, {0, 4, 1}}};
  for (const real_case& c : cases) {
    const std::int32_t ny = 3;
    qez_fftw_plan p = nullptr;
    float* out_var = c.in_place ? fin : fout;
    qez_fftwf_complex* cout_var = reinterpret_cast<qez_fftwf_complex*>(out_var);
    if (c.r2c)
      sfftw_plan_dft_r2c_2d_cpu_lp64(&p, &c.nx, &ny, &fin_var, &cout_var, &no_flags);
    else
      sfftw_plan_dft_c2r_2d_cpu_lp64(&p, &c.nx, &ny, &cfin_var, &out_var, &no_flags);
    plan_owner plan(p);
    ASSERT_NE(p, nullptr) << "nx " << c.nx;
    const descriptor_settings s = plan.settings();
    EXPECT_EQ(s.domain, real_domain);
    EXPECT_EQ(s.lengths, (std::vector<std::int64_t>{3, c.nx}));
    EXPECT_EQ(s.fwd_strides, c.fwd_strides) << "nx " << c.nx << " in place " << c.in_place;
    EXPECT_EQ(s.bwd_strides, c.bwd_strides) << "nx " << c.nx << " in place " << c.in_place;
    EXPECT_EQ(s.placement, c.in_place ? in_place : not_in_place);
    EXPECT_EQ(s.conjugate_even_storage, complex_complex);
  }
}

TEST(FftwFortranLayout, OneDimensionalRealPlansHaveUnitStridesInPlaceOrNot) {
  const std::int64_t n = 9;
  for (double* out : {din, dout}) {
    qez_fftw_plan p = nullptr;
    dfftw_plan_dft_r2c_1d_cpu_ilp64(&p, &n, din, reinterpret_cast<qez_fftw_complex*>(out),
                                    &no_flags);
    plan_owner plan(p);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(plan.settings().fwd_strides, (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(plan.settings().bwd_strides, (std::vector<std::int64_t>{0, 1}));
  }
}

TEST(FftwFortranLayout, ManyStridesNestTheEmbeddingsButNeverReadTheLastOne) {
  const std::int32_t rank = 2, n[] = {8, 6}, howmany = 3;
  const std::int32_t inembed[] = {10, -12345}, istride = 2, idist = 120;
  const std::int32_t onembed[] = {8, -12345}, ostride = 1, odist = 48;
  qez_fftw_plan p = nullptr;
  sfftw_plan_many_dft_cpu_lp64(&p, &rank, n, &howmany, &cfin_var, inembed, &istride, &idist,
                               &cfout_var, onembed, &ostride, &odist, &forward, &no_flags);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  descriptor_settings expected = complex_settings(single_precision, {6, 8}, {0, 20, 2});
  expected.bwd_strides = {0, 8, 1};
  expected.transforms = 3;
  expected.fwd_distance = 120;
  expected.bwd_distance = 48;
  EXPECT_EQ(plan.settings(), expected);
}

TEST(FftwFortranLayout, LP64ManyStridesGrowPastThirtyTwoBitsSoundly) {
  // 32-bit arguments whose nested stride is 2^32: formed in 64 bits.
  const std::int32_t rank = 2, n[] = {2, 2}, howmany = 1;
  const std::int32_t inembed[] = {65536, 0}, istride = 65536, idist = 1;
  const std::int32_t onembed[] = {2, 0}, ostride = 1, odist = 4;
  qez_fftw_plan p = nullptr;
  dfftw_plan_many_dft_cpu_lp64(&p, &rank, n, &howmany, &cdin_var, inembed, &istride, &idist,
                               &cdout_var, onembed, &ostride, &odist, &forward, &no_flags);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(plan.settings().fwd_strides,
            (std::vector<std::int64_t>{0, std::int64_t{1} << 32, 65536}));
}

TEST(FftwFortranLayout, ILP64ManyStridesBeyondSixtyFourBitsAreRefused) {
  const std::int64_t rank = 3, n[] = {2, 2, 2}, howmany = 1;
  const std::int64_t inembed[] = {std::int64_t{1} << 40, std::int64_t{1} << 40, 0};
  const std::int64_t istride = 1, idist = 1, onembed[] = {2, 2, 0}, ostride = 1, odist = 8;
  qez_fftw_plan p = reinterpret_cast<qez_fftw_plan>(&p);
  dfftw_plan_many_dft_cpu_ilp64(&p, &rank, n, &howmany, &cdin_var, inembed, &istride, &idist,
                                &cdout_var, onembed, &ostride, &odist, &forward, &no_flags);
  EXPECT_EQ(p, nullptr);
}

// The planner fuzzer's input fftw_planner_fuzzer/zero-output-strides: zero
// output embeddings nest into zero output strides, which the plan would
// have laid out packed, 44 elements past the 16 the caller's layout reaches.
TEST(FftwFortranLayout, ManyWithZeroEmbeddingsIsRefused) {
  const std::int64_t rank = 3, n[] = {4, 6, 2}, howmany = 4;
  const std::int64_t inembed[] = {6, 1, 0}, istride = 1, idist = 6;
  const std::int64_t onembed[] = {0, 0, 0}, ostride = 1, odist = 4;
  qez_fftw_plan p = reinterpret_cast<qez_fftw_plan>(&p);
  dfftw_plan_many_dft_cpu_ilp64(&p, &rank, n, &howmany, &cdin_var, inembed, &istride, &idist,
                                &cdout_var, onembed, &ostride, &odist, &backward, &no_flags);
  EXPECT_EQ(p, nullptr);
}

// ---------------------------------------------------------------------------
// Refusals of the Fortran entries.

qez_fftw_plan sentinel() { return reinterpret_cast<qez_fftw_plan>(std::uintptr_t{0x1000}); }

template <class Int>
qez_fftw_plan guru_with(Int rank, Int howmany_rank, bool in_place_plan = false,
                        Int is0 = 1, Int os0 = 1) {
  const Int n[8] = {2, 2, 2, 2, 2, 2, 2, 2};
  Int is[8] = {is0, 2, 4, 8, 16, 32, 64, 128};
  Int os[8] = {os0, 2, 4, 8, 16, 32, 64, 128};
  const Int h_n = 2, h_is = 256, h_os = 256;
  qez_fftw_plan p = sentinel();
  qez_fftw_complex** out = in_place_plan ? &cdin_var : &cdout_var;
  if (sizeof(Int) == 4)
    dfftw_plan_guru_dft_cpu_lp64(&p, reinterpret_cast<const std::int32_t*>(&rank),
                                 reinterpret_cast<const std::int32_t*>(n),
                                 reinterpret_cast<const std::int32_t*>(is),
                                 reinterpret_cast<const std::int32_t*>(os),
                                 reinterpret_cast<const std::int32_t*>(&howmany_rank),
                                 reinterpret_cast<const std::int32_t*>(&h_n),
                                 reinterpret_cast<const std::int32_t*>(&h_is),
                                 reinterpret_cast<const std::int32_t*>(&h_os), &cdin_var, out,
                                 &forward, &no_flags);
  else
    dfftw_plan_guru_dft_cpu_ilp64(&p, reinterpret_cast<const std::int64_t*>(&rank),
                                  reinterpret_cast<const std::int64_t*>(n),
                                  reinterpret_cast<const std::int64_t*>(is),
                                  reinterpret_cast<const std::int64_t*>(os),
                                  reinterpret_cast<const std::int64_t*>(&howmany_rank),
                                  reinterpret_cast<const std::int64_t*>(&h_n),
                                  reinterpret_cast<const std::int64_t*>(&h_is),
                                  reinterpret_cast<const std::int64_t*>(&h_os), &cdin_var, out,
                                  &forward, &no_flags);
  return p;
}

template <class Int>
void check_guru_refusals() {
  const long before = qez_standin_live_allocations();
  {
    plan_owner rank7(guru_with<Int>(7, 1));
    EXPECT_NE(rank7.plan, nullptr) << "rank 7 plans";
    EXPECT_NE(rank7.plan, sentinel());
  }
  {
    plan_owner one(guru_with<Int>(1, -1));
    ASSERT_NE(one.plan, nullptr) << "a negative howmany rank plans one transform";
    ASSERT_NE(one.plan, sentinel());
    EXPECT_EQ(one.settings().transforms, 1u) << "the howmany triple is not read";
  }
  EXPECT_EQ(guru_with<Int>(8, 0), nullptr) << "rank 8";
  EXPECT_EQ(guru_with<Int>(0, 0), nullptr) << "rank 0";
  EXPECT_EQ(guru_with<Int>(-1, 0), nullptr) << "negative rank";
  EXPECT_EQ(guru_with<Int>(std::numeric_limits<Int>::min(), 0), nullptr) << "most negative rank";
  EXPECT_EQ(guru_with<Int>(1, 2), nullptr) << "howmany rank 2";
  EXPECT_EQ(guru_with<Int>(1, 0, true, 1, 2), nullptr) << "in-place stride mismatch";
  EXPECT_EQ(qez_standin_live_allocations(), before);
}

TEST(FftwFortranRefusals, GuruLP64) { check_guru_refusals<std::int32_t>(); }
TEST(FftwFortranRefusals, GuruILP64) { check_guru_refusals<std::int64_t>(); }

TEST(FftwFortranRefusals, ManyFormsRefuseRankEightAndNegativeRanks) {
  const std::int64_t n[8] = {2, 2, 2, 2, 2, 2, 2, 2}, embed[8] = {2, 2, 2, 2, 2, 2, 2, 2};
  const std::int64_t howmany = 1, stride = 1, dist = 256;
  for (std::int64_t rank : {8, -2}) {
    qez_fftw_plan p = sentinel();
    dfftw_plan_many_dft_r2c_cpu_ilp64(&p, &rank, n, &howmany, &din_var, embed, &stride, &dist,
                                      &cdout_var, embed, &stride, &dist, &no_flags);
    EXPECT_EQ(p, nullptr) << "rank " << rank;
  }
}

TEST(FftwFortranRefusals, MissingAddressesLeaveThePlanVariableUntouched) {
  const std::int32_t rank = 1, n = 8, zero = 0;
  qez_fftw_plan p = sentinel();
  sfftw_plan_dft_cpu_lp64(&p, nullptr, &n, &cfin_var, &cfout_var, &forward, &no_flags);
  sfftw_plan_dft_cpu_lp64(&p, &rank, nullptr, &cfin_var, &cfout_var, &forward, &no_flags);
  sfftw_plan_dft_cpu_lp64(&p, &rank, &n, &cfin_var, &cfout_var, nullptr, &no_flags);
  sfftw_plan_dft_r2c_cpu_lp64(&p, &rank, nullptr, &fin_var, &cfout_var, &no_flags);
  sfftw_plan_guru_dft_cpu_lp64(&p, &rank, &n, &n, &n, &rank, nullptr, &n, &n, &cfin_var,
                               &cfout_var, &forward, &no_flags);
  sfftw_plan_many_dft_cpu_lp64(&p, &rank, &n, &rank, &cfin_var, nullptr, &rank, &n, &cfout_var,
                               &n, &rank, &n, &forward, &no_flags);
  EXPECT_EQ(p, sentinel());
  // A howmany rank of 0 needs no howmany variables.
  sfftw_plan_guru_dft_cpu_lp64(&p, &rank, &n, &rank, &rank, &zero, nullptr, nullptr, nullptr,
                               &cfin_var, &cfout_var, &forward, &no_flags);
  plan_owner plan(p);
  EXPECT_NE(p, sentinel());
  EXPECT_NE(p, nullptr);
  sfftw_plan_dft_1d_cpu_lp64(nullptr, &n, cfin_var, cfout_var, &forward, &no_flags);
}

TEST(FftwFortranRefusals, TwoDimensionalFormsWriteZeroForMissingLengths) {
  const std::int32_t ny = 4;
  qez_fftw_plan p = sentinel();
  sfftw_plan_dft_r2c_2d_cpu_lp64(&p, nullptr, &ny, &fin_var, &cfout_var, &no_flags);
  EXPECT_EQ(p, nullptr);
  p = sentinel();
  dfftw_plan_dft_2d_cpu_ilp64(&p, nullptr, nullptr, &cdin_var, &cdout_var, &forward, &no_flags);
  EXPECT_EQ(p, nullptr);
}

}  // namespace
