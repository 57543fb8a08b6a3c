// Records of the CPU engine: creation and its refusals, defaults, the method
// table's slot contracts, the blessing, list binding, commit statuses for
// configurations the engine refuses, the routes it plans, and 64-bit offsets.
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "platform/threading/engine/fftw_plans.hpp"
#include "platform/threading/engine/layout.hpp"
#include "tests/platform/engine/engine_fixture.hpp"
#include "tests/support/expect_accurate.hpp"
#include "tests/support/reference_dft.hpp"

namespace qez_engine_test {
namespace {

namespace dft = ulmara::qez::dft;
namespace engine = ulmara::qez::cpu_engine;

// ---------------------------------------------------------------------------
// Creation.

TEST(EngineCreate, RefusesLengthBelowOne) {
  DFTI_DESCRIPTOR* r = reinterpret_cast<DFTI_DESCRIPTOR*>(0x1);
  DFTI_DESCRIPTOR* untouched = r;
  EXPECT_EQ(qez_dft_dfti_create_sc1d(&r, 0, 0), 2);
  EXPECT_EQ(qez_dft_dfti_create_dr1d(&r, -4, 0), 2);
  const std::int64_t lengths[2] = {4, 0};
  EXPECT_EQ(qez_dft_dfti_create_dcmd(&r, 2, lengths, 0), 2);
  EXPECT_EQ(r, untouched) << "a refused creation stores nothing";
}

TEST(EngineCreate, RefusesRankOutsideOneToSeven) {
  DFTI_DESCRIPTOR* r = nullptr;
  const std::int64_t lengths[8] = {2, 2, 2, 2, 2, 2, 2, 2};
  EXPECT_EQ(qez_dft_dfti_create_scmd(&r, 0, lengths, 0), 2);
  EXPECT_EQ(qez_dft_dfti_create_scmd(&r, 8, lengths, 0), 2);
  EXPECT_EQ(r, nullptr);
}

TEST(EngineCreate, RefusesNullArgumentsAndBadCodes) {
  DFTI_DESCRIPTOR* r = nullptr;
  EXPECT_EQ(qez_dft_dfti_create_sc1d(nullptr, 8, 0), 3);
  EXPECT_EQ(qez_dft_dfti_create_scmd(&r, 2, nullptr, 0), 3);
  const std::int64_t lengths[1] = {8};
  EXPECT_EQ(qez_dft_dfti_create_node(&r, 34, 32, 1, lengths, 0), 2);
  EXPECT_EQ(qez_dft_dfti_create_node(&r, 35, 31, 1, lengths, 0), 2);
  EXPECT_EQ(r, nullptr);
}

TEST(EngineCreate, FillsDefaults) {
  engine_record r(true, true, {5, 7});
  ASSERT_EQ(r.status(), 0);
  EXPECT_EQ(r->magic, dft::descriptor_magic);
  EXPECT_EQ(r->commit_status, 31u);
  EXPECT_EQ(r->precision, 36u);
  EXPECT_EQ(r->domain, 33u);
  EXPECT_EQ(r->complex_storage, 39u);
  EXPECT_EQ(r->real_storage, 42u);
  EXPECT_EQ(r->conjugate_even_storage, 39u);
  EXPECT_EQ(r->placement, 43u);
  EXPECT_EQ(r->packed_format, 57u);
  EXPECT_EQ(r->workspace_use, 51u);
  EXPECT_EQ(r->ordering, 48u);
  EXPECT_EQ(r->transpose, 53u);
  EXPECT_EQ(r->user_threads, 1u);
  EXPECT_EQ(r->fwd_scale, 1.0);
  EXPECT_EQ(r->bwd_scale, 1.0);
  EXPECT_EQ(r->set_flags & dft::explicit_layout_flags, 0u);
  ASSERT_EQ(r->lengths.count, 2);
  EXPECT_EQ(r->lengths.records[0].length, 7) << "innermost dimension first";
  EXPECT_EQ(r->lengths.records[1].length, 5);
  ASSERT_EQ(r->batch.count, 1);
  EXPECT_EQ(r->batch.records[0].length, 1);
  EXPECT_EQ(r->work_lengths.count, 2);
  EXPECT_NE(r->work_lengths.records, r->lengths.records) << "the working list is a copy";
  EXPECT_NE(r->methods, nullptr);
  EXPECT_NE(r->services, nullptr);
  EXPECT_NE(r->release, nullptr);
  EXPECT_NE(r->free, nullptr);
  EXPECT_EQ(r->compute_fwd, nullptr);
}

// ---------------------------------------------------------------------------
// Method table contracts.

TEST(EngineMethods, StrideGettersRefuseWhileForwardBackwardStridesAreInForce) {
  engine_record r(false, false, {4, 6});
  const auto& m = r.methods();
  std::int64_t out[3] = {-1, -1, -1};
  EXPECT_EQ(m.get_input_strides(r.get(), out), 0);
  EXPECT_EQ(out[0], 0);
  const std::int64_t fwd[3] = {2, 1, 6};
  EXPECT_EQ(m.set_forward_strides(r.get(), fwd), 0);
  EXPECT_EQ(r->set_flags & dft::set_flag_forward_strides, dft::set_flag_forward_strides);
  std::int64_t untouched[3] = {-1, -1, -1};
  EXPECT_EQ(m.get_input_strides(r.get(), untouched), 3);
  EXPECT_EQ(untouched[0], -1);
  std::int64_t got[3] = {};
  EXPECT_EQ(m.get_forward_strides(r.get(), got), 0);
  EXPECT_EQ(got[0], 2);
  EXPECT_EQ(got[1], 1);
  EXPECT_EQ(got[2], 6);
}

TEST(EngineMethods, DistanceGettersRefuseWhileForwardBackwardDistancesAreInForce) {
  engine_record r(false, false, {8});
  const auto& m = r.methods();
  std::int64_t d = -1;
  EXPECT_EQ(m.set_input_distance(r.get(), 9), 0);
  EXPECT_EQ(m.get_input_distance(r.get(), &d), 0);
  EXPECT_EQ(d, 9);
  EXPECT_EQ(m.set_forward_distance(r.get(), 10), 0);
  d = -1;
  EXPECT_EQ(m.get_output_distance(r.get(), &d), 3);
  EXPECT_EQ(d, -1);
  EXPECT_EQ(m.get_forward_distance(r.get(), &d), 0);
  EXPECT_EQ(d, 10);
}

TEST(EngineMethods, NameIsPaddedWithTheFillByte) {
  engine_record r(false, false, {8});
  const auto& m = r.methods();
  EXPECT_EQ(m.set_name(r.get(), "abcd", 4, ' '), 0);
  EXPECT_EQ(std::memcmp(r->name, "abcd      ", 10), 0);
  char got[4] = {};
  EXPECT_EQ(m.get_name(r.get(), got, 4), 0);
  EXPECT_EQ(std::memcmp(got, "abcd", 4), 0);
  EXPECT_EQ(m.set_name(r.get(), "0123456789xyz", 13, ' '), 0);
  EXPECT_EQ(std::memcmp(r->name, "0123456789", 10), 0);
}

TEST(EngineMethods, ScaleSelectorsAndRelease) {
  engine_record r(true, false, {8});
  const auto& m = r.methods();
  double s = 0;
  EXPECT_EQ(m.get_scale(r.get(), &s, 6), 3);
  EXPECT_EQ(m.set_scale(r.get(), 2.0, 7), 3);
  ASSERT_EQ(m.commit(r.get()), 0);
  EXPECT_EQ(r->commit_status, 30u);
  EXPECT_EQ(m.set_scale(r.get(), 1.0, dft::scale_forward), 0);
  EXPECT_EQ(r->commit_status, 30u) << "an unchanged scale keeps the plan";
  EXPECT_EQ(m.set_scale(r.get(), 0.25, dft::scale_backward), 0);
  EXPECT_EQ(r->commit_status, 31u);
  EXPECT_EQ(r->compute_fwd, nullptr);
  EXPECT_EQ(m.get_scale(r.get(), &s, dft::scale_backward), 0);
  EXPECT_EQ(s, 0.25);
}

TEST(EngineMethods, CountsThreadsRankAndWorkspace) {
  engine_record r(false, true, {3, 4, 5});
  const auto& m = r.methods();
  EXPECT_EQ(m.set_number_of_transforms(r.get(), 0), 3);
  EXPECT_EQ(m.set_number_of_transforms(r.get(), 4), 0);
  std::uint64_t count = 0;
  EXPECT_EQ(m.get_number_of_transforms(r.get(), &count), 0);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(m.set_thread_limit(r.get(), -1), 3);
  EXPECT_EQ(m.set_thread_limit(r.get(), 3), 0);
  std::int64_t threads = 0;
  EXPECT_EQ(m.get_thread_limit(r.get(), &threads), 0);
  EXPECT_EQ(threads, 3);
  std::int64_t rank = 0;
  EXPECT_EQ(m.get_rank(r.get(), &rank), 0);
  EXPECT_EQ(rank, 3);
  std::int64_t lengths[3] = {};
  EXPECT_EQ(m.get_lengths(r.get(), lengths), 0);
  EXPECT_EQ(lengths[0], 5);
  EXPECT_EQ(lengths[2], 3);
  int workspace = 0;
  EXPECT_EQ(m.set_workspace(r.get(), &workspace, 2), 2) << "no GPU backend is committed";
}

TEST(EngineMethods, CopyIsUncommittedAndIndependent) {
  engine_record r(true, false, {4, 6});
  const auto& m = r.methods();
  const std::int64_t fwd[3] = {0, 1, 6};
  ASSERT_EQ(m.set_forward_strides(r.get(), fwd), 0);
  ASSERT_EQ(m.commit(r.get()), 0);
  DFTI_DESCRIPTOR* copy = nullptr;
  ASSERT_EQ(m.copy_descriptor(r.get(), &copy), 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->commit_status, 0u);
  EXPECT_EQ(copy->compute_fwd, nullptr);
  EXPECT_EQ(copy->lengths.count, 2);
  EXPECT_NE(copy->lengths.records, r->lengths.records);
  EXPECT_EQ(copy->lengths.records[1].forward, 6);
  EXPECT_EQ(copy->set_flags & dft::set_flag_forward_strides, dft::set_flag_forward_strides);
  copy->free(copy, copy);
}

TEST(EngineBless, PointsAtEngineServicesOrFillsEmptySlots) {
  engine_record r(false, false, {8});
  dft::service_table foreign{};
  foreign.cache_size = [](int) -> std::int64_t { return 42; };
  r->services = &foreign;
  EXPECT_EQ(qez_dft_bless_node_thr(r.get()), 0);
  EXPECT_NE(foreign.max_threads, nullptr);
  EXPECT_NE(foreign.single_thread, nullptr);
  EXPECT_EQ(foreign.single_thread(), 0);
  EXPECT_GE(foreign.max_threads(), 1);
  EXPECT_EQ(foreign.cache_size(1), 42) << "slots already filled stay";
  r->services = nullptr;
  EXPECT_EQ(qez_dft_bless_node_thr(r.get()), 0);
  EXPECT_NE(r->services, nullptr);
  EXPECT_EQ(qez_dft_bless_node_thr(nullptr), 5);
}

TEST(EngineBind, ChecksTheRecordClass) {
  engine_record r(false, true, {8});
  DFTI_DESCRIPTOR* h = r.get();
  EXPECT_EQ(qez_dft_dfti_set_bkdlist_sr1d(&h, r.get()), 0);
  EXPECT_EQ(qez_dft_dfti_set_bkdlist_srmd(&h, r.get()), 3);
  EXPECT_EQ(qez_dft_dfti_set_bkdlist_dr1d(&h, r.get()), 3);
  EXPECT_EQ(qez_dft_dfti_set_bkdlist_sc1d(&h, r.get()), 3);
}

// ---------------------------------------------------------------------------
// Commit statuses.

struct refusal_case {
  const char* name;
  bool real;
  void (*configure)(DFTI_DESCRIPTOR* r);
  int status;
};

const refusal_case refusal_cases[] = {
    {"SplitComplexStorage", false, [](DFTI_DESCRIPTOR* r) { r->complex_storage = 42; }, 6},
    {"RealStorageRealComplex", true, [](DFTI_DESCRIPTOR* r) { r->real_storage = 41; }, 6},
    {"PackedFormatCCS", true,
     [](DFTI_DESCRIPTOR* r) {
       r->conjugate_even_storage = 40;
       r->packed_format = 54;
     },
     6},
    {"PackedFormatPack", true,
     [](DFTI_DESCRIPTOR* r) {
       r->conjugate_even_storage = 40;
       r->packed_format = 55;
     },
     6},
    {"PackedFormatPerm", true,
     [](DFTI_DESCRIPTOR* r) {
       r->conjugate_even_storage = 40;
       r->packed_format = 56;
     },
     6},
    {"BackwardScrambledOrdering", false, [](DFTI_DESCRIPTOR* r) { r->ordering = 49; }, 6},
    {"SeveralTransformsWithoutDistance", false,
     [](DFTI_DESCRIPTOR* r) { r->methods->set_number_of_transforms(r, 3); }, 3},
    {"SeveralTransformsWithOneDistance", false,
     [](DFTI_DESCRIPTOR* r) {
       r->placement = 44;
       r->methods->set_number_of_transforms(r, 3);
       r->methods->set_forward_distance(r, 16);
     },
     3},
    {"BothStrideConventions", false,
     [](DFTI_DESCRIPTOR* r) {
       const std::int64_t s[2] = {0, 1};
       r->methods->set_input_strides(r, s);
       r->methods->set_forward_strides(r, s);
     },
     3},
    {"InPlaceComplexUnequalStrides", false,
     [](DFTI_DESCRIPTOR* r) {
       const std::int64_t f[2] = {0, 1};
       const std::int64_t b[2] = {0, 2};
       r->methods->set_forward_strides(r, f);
       r->methods->set_backward_strides(r, b);
     },
     3},
    {"NegativeCount", false, [](DFTI_DESCRIPTOR* r) { r->batch.records[0].length = -2; }, 3},
    {"UnknownPlacement", false, [](DFTI_DESCRIPTOR* r) { r->placement = 45; }, 3},
};

class EngineCommitRefusal : public ::testing::TestWithParam<refusal_case> {};

TEST_P(EngineCommitRefusal, GivesItsStatusAndStaysUncommitted) {
  const refusal_case& c = GetParam();
  engine_record r(false, c.real, {16});
  c.configure(r.get());
  EXPECT_EQ(r.methods().commit(r.get()), c.status);
  EXPECT_EQ(r->commit_status, 31u);
  EXPECT_EQ(r->compute_fwd, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Configurations, EngineCommitRefusal, ::testing::ValuesIn(refusal_cases),
                         [](const ::testing::TestParamInfo<refusal_case>& i) {
                           return std::string(i.param.name);
                         });

TEST(EngineCompute, RefusesDataAddressesThatContradictThePlacement) {
  engine_record r(false, false, {8});
  r->placement = 44;
  ASSERT_EQ(r.methods().commit(r.get()), 0);
  EXPECT_EQ(r->data_arrays, 2u);
  std::vector<std::complex<float>> a(8), b(8);
  EXPECT_EQ(r->compute_fwd(r.get(), a.data(), nullptr, nullptr, nullptr, nullptr), 3);
  EXPECT_EQ(r->compute_fwd(r.get(), a.data(), a.data(), nullptr, nullptr, nullptr), 3);
  EXPECT_EQ(r->compute_fwd(r.get(), nullptr, b.data(), nullptr, nullptr, nullptr), 3);
  EXPECT_EQ(r->compute_fwd(r.get(), a.data(), b.data(), nullptr, nullptr, nullptr), 0);
}

TEST(EngineCommit, SetsThreadsAndReleasesOnStrideChange) {
  engine_record r(true, true, {12});
  const auto& m = r.methods();
  ASSERT_EQ(m.commit(r.get()), 0);
  EXPECT_EQ(r->data_arrays, 1u);
  EXPECT_GE(r->threads, 1);
  EXPECT_NE(r->engine_state, nullptr);
  const std::int64_t s[2] = {0, 1};
  ASSERT_EQ(m.set_backward_strides(r.get(), s), 0);
  EXPECT_EQ(r->commit_status, 31u);
  EXPECT_EQ(r->engine_state, nullptr);
  EXPECT_EQ(r->compute_bwd, nullptr);
}

// ---------------------------------------------------------------------------
// Planning routes: FFTW in place where it can, copies where it cannot.

engine::direction_layout one_d(engine::transform_kind kind, std::int64_t n, bool in_place) {
  engine::direction_layout l;
  l.kind = kind;
  l.sign = kind == engine::transform_kind::r2c ? -1 : 1;
  l.rank = 1;
  l.lengths[0] = n;
  l.input.strides[0] = 1;
  l.output.strides[0] = 1;
  l.in_place = in_place;
  return l;
}

TEST(EngineRoutes, ChoosesTheRouteByLayout) {
  std::shared_ptr<const engine::direction_plan> p;
  auto c2r = one_d(engine::transform_kind::c2r, 16, false);
  ASSERT_EQ(engine::make_direction_plan(c2r, true, false, 1, &p), 0);
  EXPECT_EQ(p->route(), engine::plan_route::direct) << "FFTW keeps a 1-D c2r input";

  engine::direction_layout c2r_2d = c2r;
  c2r_2d.rank = 2;
  c2r_2d.lengths[1] = 4;
  c2r_2d.input.strides[1] = 9;
  c2r_2d.output.strides[1] = 16;
  ASSERT_EQ(engine::make_direction_plan(c2r_2d, true, false, 1, &p), 0);
  EXPECT_EQ(p->route(), engine::plan_route::gather_input);
  ASSERT_EQ(engine::make_direction_plan(c2r_2d, true, true, 1, &p), 0);
  EXPECT_EQ(p->route(), engine::plan_route::direct) << "destroying the input is allowed";

  auto r2c_in_place = one_d(engine::transform_kind::r2c, 16, true);
  ASSERT_EQ(engine::make_direction_plan(r2c_in_place, false, false, 1, &p), 0);
  EXPECT_EQ(p->route(), engine::plan_route::direct);
  r2c_in_place.output.offset = 3;  // the two sides start at different addresses
  ASSERT_EQ(engine::make_direction_plan(r2c_in_place, false, false, 1, &p), 0);
  EXPECT_EQ(p->route(), engine::plan_route::scatter_output);
}

TEST(EnginePlanCache, SharesAPlanOnlyBetweenEqualLayouts) {
  auto layout = one_d(engine::transform_kind::c2c, 24, false);
  std::shared_ptr<const engine::direction_plan> first, again, other;
  ASSERT_EQ(engine::make_direction_plan(layout, false, false, 1, &first), 0);
  ASSERT_EQ(engine::make_direction_plan(layout, false, false, 1, &again), 0);
  EXPECT_EQ(first.get(), again.get()) << "a second commit of one layout plans again";

  const auto differs = [&](const engine::direction_layout& l, bool double_precision, int threads,
                           const char* what) {
    ASSERT_EQ(engine::make_direction_plan(l, double_precision, false, threads, &other), 0);
    EXPECT_NE(first.get(), other.get()) << what;
  };
  differs(layout, true, 1, "precision");
  differs(layout, false, 4, "thread count");
  ASSERT_EQ(engine::make_direction_plan(layout, false, false, 1, &other,
                                        engine::planning_effort::estimate),
            0);
  EXPECT_NE(first.get(), other.get()) << "planning effort";
  auto scaled = layout;
  scaled.scale = 0.5;
  differs(scaled, false, 1, "scale");
  auto offset = layout;
  offset.output.offset = 1;
  differs(offset, false, 1, "output offset");
}

// A stride whose reach leaves 64 bits: (2^15 - 1) * stride wraps to 100.
// Measured plans (2^15 points and more) plan on scratch of the layout's
// span, which the wrapped reach made 101 elements long while FFTW measured
// across the whole stride; the span is now found not to fit and the plan is
// made by estimate alone. The planner fuzzer met the overflow through a
// plan's strides (fftw_planner_fuzzer/stride-reach-overflow).
TEST(EngineRoutes, StridesWhoseReachLeavesSixtyFourBitsPlanWithoutMeasuring) {
  auto layout = one_d(engine::transform_kind::c2c, std::int64_t{1} << 15, false);
  layout.output.strides[0] = -4615204563013730404;
  std::shared_ptr<const engine::direction_plan> p;
  ASSERT_EQ(engine::make_direction_plan(layout, true, false, 1, &p), 0);
  EXPECT_NE(p, nullptr);
}

// A direction planned by estimate alone (a commit's second direction when
// measuring the first one ran out of time) keeps the execution of a large
// transform: this batch runs as chunks shared out over two threads, each
// chunk scaled after its transform.
TEST(EngineRoutes, EstimatedLargeBatchComputesAsChunksOnThreads) {
  const std::int64_t n = 256, batch = 1024;
  auto layout = one_d(engine::transform_kind::c2c, n, false);
  layout.sign = 1;
  layout.batch_rank = 1;
  layout.counts[0] = batch;
  layout.input.distances[0] = n;
  layout.output.distances[0] = n;
  layout.scale = 0.25;
  std::shared_ptr<const engine::direction_plan> p;
  ASSERT_EQ(engine::make_direction_plan(layout, true, false, 2, &p,
                                        engine::planning_effort::estimate),
            0);
  EXPECT_FALSE(p->measuring_ran_out_of_time()) << "nothing was measured";

  const auto data = qez_test::random_complex(n * batch, 11);
  std::vector<std::complex<double>> in(data.begin(), data.end()), out(n * batch);
  ASSERT_EQ(p->execute(in.data(), out.data()), 0);
  auto ref = qez_test::reference_c2c(data, {n}, batch, qez_test::dft_sign::backward);
  for (auto& v : ref) v *= 0.25L;
  qez_test::expect_accurate<double>(std::vector<qez_test::cld>(out.begin(), out.end()), ref, n);
}

// ---------------------------------------------------------------------------
// Offsets keep 64 bits: data addressed 2^32 + 5 elements after the base.

TEST(EngineOffsets, UseAllSixtyFourBits) {
  engine_record r(true, false, {8});
  const auto& m = r.methods();
  const std::int64_t offset = (std::int64_t{1} << 32) + 5;
  r->placement = 44;
  const std::int64_t in_strides[2] = {offset, 1};
  const std::int64_t out_strides[2] = {offset + 2, 1};
  ASSERT_EQ(m.set_input_strides(r.get(), in_strides), 0);
  ASSERT_EQ(m.set_output_strides(r.get(), out_strides), 0);
  ASSERT_EQ(m.commit(r.get()), 0);
  std::vector<std::complex<double>> in(8), out(10);
  const auto data = qez_test::random_complex(8, 5);
  for (int i = 0; i < 8; ++i) in[i] = std::complex<double>(data[i]);
  // Base addresses placed so that base + offset lands on the arrays.
  const auto shift = static_cast<std::uintptr_t>(offset) * sizeof(std::complex<double>);
  auto* in_base = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(in.data()) - shift);
  auto* out_base = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(out.data()) - shift);
  ASSERT_EQ(r->compute_fwd(r.get(), in_base, out_base, nullptr, nullptr, nullptr), 0);
  const auto ref = qez_test::reference_c2c(data, {8}, 1, qez_test::dft_sign::forward);
  std::vector<qez_test::cld> got(out.begin() + 2, out.end());
  qez_test::expect_accurate<double>(got, ref, 8);
}

}  // namespace
}  // namespace qez_engine_test
