// The CPU DFTI front end: its status table, and transforms checked against
// FFTW's long-double reference (complex and real, ranks 1, 2, 3 and 5, odd
// and prime lengths, batches, non-unit strides with offsets, in place and out
// of place, scales), plus the CPU verbose line of each computed transform.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "dft/api/cpu_dfti.hpp"
#include "qez_service.h"
#include "qez_service_control.h"
#include "tests/support/expect_accurate.hpp"
#include "tests/support/strided_layout.hpp"

namespace {

namespace dft = ulmara::qez::dft;
using qez_test::cld;
using qez_test::strided_layout;

// Owns a record made by the front end's create operations.
struct cpu_descriptor {
  DFTI_DESCRIPTOR* record = nullptr;
  std::int64_t status = -1;
  cpu_descriptor(bool double_precision, int domain, std::vector<std::int64_t> lengths) {
    const auto rank = static_cast<std::int64_t>(lengths.size());
    status = double_precision ? dft::dfti_cpu_create_double_md(&record, domain, rank, lengths.data())
                              : dft::dfti_cpu_create_single_md(&record, domain, rank, lengths.data());
  }
  ~cpu_descriptor() {
    if (record != nullptr) dft::free_cpu_descriptor(&record);
  }
  DFTI_DESCRIPTOR* get() const { return record; }
};

std::vector<std::int64_t> dfti_strides(const strided_layout& l) {
  std::vector<std::int64_t> v{l.offset};
  v.insert(v.end(), l.strides.begin(), l.strides.end());
  return v;
}

// ---------------------------------------------------------------------------
// Status table.

TEST(CpuDftiCreate, StatusesOfCreation) {
  DFTI_DESCRIPTOR* r = reinterpret_cast<DFTI_DESCRIPTOR*>(0x8);
  EXPECT_EQ(dft::dfti_cpu_create_single_1d(nullptr, 32, 8), 3);
  EXPECT_EQ(dft::dfti_cpu_create_single_1d(&r, 34, 8), 2);
  EXPECT_EQ(r, nullptr) << "the handle's target is nulled first";
  EXPECT_EQ(dft::dfti_cpu_create_double_1d(&r, 32, 0), 2);
  const std::int64_t lengths[8] = {4, 4, 4, 4, 4, 4, 4, 4};
  EXPECT_EQ(dft::dfti_cpu_create_single_md(&r, 32, 8, lengths), 2);
  EXPECT_EQ(dft::dfti_cpu_create_single_md(&r, 32, 0, lengths), 2);
  const std::int64_t with_zero[2] = {4, 0};
  EXPECT_EQ(dft::dfti_cpu_create_single_md(&r, 32, 2, with_zero), 2);
  EXPECT_EQ(dft::dfti_cpu_create_single_md(&r, 32, 2, nullptr), 3);
  EXPECT_EQ(dft::dfti_cpu_create_double_md(&r, 31, 2, lengths), 2);
  EXPECT_EQ(r, nullptr);
  ASSERT_EQ(dft::dfti_cpu_create_single_md(&r, 33, 7, lengths), 0);
  EXPECT_EQ(r->lengths.count, 7);
  EXPECT_EQ(dft::free_cpu_descriptor(&r), 0);
}

TEST(CpuDftiCreate, LengthsArriveFastestFirst) {
  cpu_descriptor d(true, 32, {3, 5, 7});
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(d.get()->lengths.records[0].length, 7);
  EXPECT_EQ(d.get()->lengths.records[2].length, 3);
}

class CpuDftiSetValue : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(dft::dfti_cpu_create_double_1d(&record_, 32, 16), 0);
    ASSERT_EQ(dft::dfti_cpu_commit(record_), 0);
    ASSERT_EQ(record_->commit_status, 30u);
  }
  void TearDown() override { dft::free_cpu_descriptor(&record_); }
  bool committed() const { return record_->commit_status == 30 && record_->compute_fwd != nullptr; }
  DFTI_DESCRIPTOR* record_ = nullptr;
};

TEST_F(CpuDftiSetValue, BadRecordsAndParameterNumbers) {
  EXPECT_EQ(dft::dfti_cpu_set_value(nullptr, 11, 43), 5);
  DFTI_DESCRIPTOR fake{};
  EXPECT_EQ(dft::dfti_cpu_set_value(&fake, 11, 43), 5);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 62, 0), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, -1, 0), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 6, 0), 3);
  EXPECT_TRUE(committed()) << "an unknown parameter leaves the record untouched";
}

TEST_F(CpuDftiSetValue, ReadOnlyDomainAndPrecisionUncommit) {
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 0, 33), 3);
  EXPECT_FALSE(committed());
  EXPECT_EQ(record_->compute_fwd, nullptr);
  EXPECT_EQ(record_->compute_bwd, nullptr);
  EXPECT_EQ(dft::dfti_cpu_commit(record_), 0);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 3, 35), 3);
  EXPECT_FALSE(committed());
}

TEST_F(CpuDftiSetValue, DimensionAndLengthsDoNotUncommit) {
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 1, 2), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 2, 2), 3);
  EXPECT_TRUE(committed());
}

TEST_F(CpuDftiSetValue, StorageValues) {
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 8, 42), 0);
  EXPECT_EQ(record_->complex_storage, 42u);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 8, 40), 6);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 8, 41), 6);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 8, 44), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 9, 42), 0);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 9, 41), 6);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 9, 39), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 10, 41), 6);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 10, 42), 6);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 10, 38), 3);
}

TEST_F(CpuDftiSetValue, PlacementWorkspaceOrderingDestroyInput) {
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 11, 44), 0);
  EXPECT_EQ(record_->placement, 44u);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 11, 45), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 17, 52), 0);
  EXPECT_EQ(record_->workspace_use, 52u);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 17, 53), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 18, 49), 0) << "stored on a complex record";
  EXPECT_EQ(record_->ordering, 49u);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 18, 50), 6);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 18, 47), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 28, 51), 0);
  EXPECT_EQ(record_->options & 16u, 16u);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 28, 52), 0);
  EXPECT_EQ(record_->options & 16u, 0u);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 28, 50), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 19, 0), 3) << "transpose has no setting";
}

TEST_F(CpuDftiSetValue, UserThreadsMustFitThirtyTwoBits) {
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 26, std::int64_t{1} << 31), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 26, (std::int64_t{1} << 31) - 1), 0);
  EXPECT_EQ(record_->user_threads, 0x7fffffffu);
}

TEST_F(CpuDftiSetValue, CountsDistancesThreadLimitThroughTheRecordsMethods) {
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 7, std::int64_t{0}), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 7, std::int64_t{4}), 0);
  EXPECT_EQ(record_->batch.records[0].length, 4);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 58, std::int64_t{20}), 0);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 59, std::int64_t{24}), 0);
  EXPECT_EQ(record_->batch.records[0].forward, 20);
  EXPECT_EQ(record_->batch.records[0].backward, 24);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 27, std::int64_t{-1}), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 27, std::int64_t{2}), 0);
  EXPECT_EQ(record_->thread_limit, 2);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 14, std::int64_t{20}), 0);
  EXPECT_EQ(record_->batch.records[0].input, 20);
}

TEST_F(CpuDftiSetValue, ScalesStridesAndNameSkipTheUncommit) {
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 4, 1.0), 0);
  EXPECT_TRUE(committed()) << "an unchanged scale keeps the plan";
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 20, "plan-a"), 0);
  EXPECT_TRUE(committed());
  EXPECT_EQ(std::memcmp(record_->name, "plan-a\0\0\0\0", 10), 0);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 20, static_cast<const char*>(nullptr)), 3);
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 60, static_cast<const std::int64_t*>(nullptr)), 3);
  const std::int64_t strides[2] = {3, 2};
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 12, strides), 0);
  EXPECT_EQ(record_->in_offset, 3);
  EXPECT_EQ(record_->lengths.records[0].input, 2);
  EXPECT_FALSE(committed()) << "the engine releases its plan when strides change";
  EXPECT_EQ(dft::dfti_cpu_set_value(record_, 5, 0.5), 0);
  EXPECT_EQ(record_->bwd_scale, 0.5);
}

TEST(CpuDftiSetValueChain, StridesAreReversedAfterTheOffset) {
  cpu_descriptor d(false, 32, {3, 4, 5});
  const std::int64_t strides[4] = {9, 40, 10, 2};  // offset, slowest .. fastest
  ASSERT_EQ(dft::dfti_cpu_set_value(d.get(), 61, strides), 0);
  EXPECT_EQ(d.get()->bwd_offset, 9);
  EXPECT_EQ(d.get()->lengths.records[0].backward, 2);
  EXPECT_EQ(d.get()->lengths.records[1].backward, 10);
  EXPECT_EQ(d.get()->lengths.records[2].backward, 40);
  EXPECT_EQ(d.get()->set_flags & 0x100u, 0x100u);
}

TEST(CpuDftiSetValueChain, ConjugateEvenStorageRefusesAChainWithARankTwoRecordWhole) {
  cpu_descriptor first(false, 33, {16});
  cpu_descriptor second(false, 33, {4, 4});
  first.get()->linked_descriptor = second.get();
  EXPECT_EQ(dft::dfti_cpu_set_value(first.get(), 10, 40), 3);
  EXPECT_EQ(first.get()->conjugate_even_storage, 39u) << "a refused store changes no record";
  EXPECT_EQ(second.get()->conjugate_even_storage, 39u);
  EXPECT_EQ(dft::dfti_cpu_set_value(first.get(), 11, 44), 0);
  EXPECT_EQ(second.get()->placement, 44u) << "the chain receives the store";
  first.get()->linked_descriptor = nullptr;
  cpu_descriptor one(false, 33, {16});
  EXPECT_EQ(dft::dfti_cpu_set_value(one.get(), 10, 40), 0);
  EXPECT_EQ(one.get()->conjugate_even_storage, 40u);
}

// Links `records` into one chain in their order; unlinks them when done.
struct linked_chain {
  std::vector<DFTI_DESCRIPTOR*> records;
  explicit linked_chain(std::vector<DFTI_DESCRIPTOR*> r) : records(std::move(r)) {
    for (std::size_t k = 0; k + 1 < records.size(); ++k)
      records[k]->linked_descriptor = records[k + 1];
  }
  ~linked_chain() {
    for (DFTI_DESCRIPTOR* r : records) r->linked_descriptor = nullptr;
  }
};

// Every chained store, on a chain that does not end: 5, and no record
// changes.
void expect_chain_refused(DFTI_DESCRIPTOR* head, const std::vector<DFTI_DESCRIPTOR*>& records) {
  EXPECT_EQ(dft::dfti_cpu_set_value(head, 11, 44), 5) << "placement";
  EXPECT_EQ(dft::dfti_cpu_set_value(head, 8, 42), 5) << "complex storage";
  EXPECT_EQ(dft::dfti_cpu_set_value(head, 10, 40), 5) << "conjugate-even storage";
  EXPECT_EQ(dft::dfti_cpu_set_value(head, 26, std::int64_t{3}), 5) << "user threads";
  for (const DFTI_DESCRIPTOR* r : records) {
    EXPECT_EQ(r->placement, 43u);
    EXPECT_EQ(r->complex_storage, 39u);
    EXPECT_EQ(r->conjugate_even_storage, 39u);
    EXPECT_NE(r->user_threads, 3u);
  }
}

TEST(CpuDftiSetValueChain, ACycleIsRefusedAndChangesNothing) {
  cpu_descriptor first(false, 33, {16});
  cpu_descriptor second(false, 33, {8});
  linked_chain chain({first.get(), second.get(), first.get()});
  expect_chain_refused(first.get(), {first.get(), second.get()});
}

TEST(CpuDftiSetValueChain, AChainLongerThanAnyEngineMakesIsRefused) {
  std::vector<std::unique_ptr<cpu_descriptor>> owners;
  std::vector<DFTI_DESCRIPTOR*> records;
  for (int k = 0; k < 65; ++k) {
    owners.push_back(std::make_unique<cpu_descriptor>(false, 33, std::vector<std::int64_t>{8}));
    records.push_back(owners.back()->get());
  }
  {
    linked_chain chain(records);
    expect_chain_refused(records.front(), records);
  }
  records.pop_back();
  linked_chain chain(records);
  EXPECT_EQ(dft::dfti_cpu_set_value(records.front(), 11, 44), 0) << "64 records end in time";
  EXPECT_EQ(records.back()->placement, 44u);
}

TEST(CpuDftiSetValueChain, PackedFormats) {
  cpu_descriptor d(true, 33, {4, 6});
  EXPECT_EQ(dft::dfti_cpu_set_value(d.get(), 10, 39), 0);
  EXPECT_EQ(d.get()->packed_format, 57u);
  EXPECT_EQ(dft::dfti_cpu_set_value(d.get(), 21, 54), 3) << "rank 2";
  EXPECT_EQ(dft::dfti_cpu_set_value(d.get(), 18, 49), 6) << "real domain";
  cpu_descriptor one(true, 33, {8});
  EXPECT_EQ(dft::dfti_cpu_set_value(one.get(), 21, 56), 0);
  EXPECT_EQ(one.get()->packed_format, 56u);
  EXPECT_EQ(dft::dfti_cpu_set_value(one.get(), 21, 58), 3);
}

TEST(CpuDftiSetValueCore, NullArguments) {
  const std::int64_t p = 11, v = 43;
  EXPECT_EQ(dft::dfti_cpu_set_value_core(nullptr, &p, &v), 3);
  DFTI_DESCRIPTOR* none = nullptr;
  EXPECT_EQ(dft::dfti_cpu_set_value_core(&none, &p, &v), 5);
}

TEST(CpuDftiCommit, Statuses) {
  EXPECT_EQ(dft::dfti_cpu_commit(nullptr), 5);
  cpu_descriptor d(false, 33, {8});
  d.get()->conjugate_even_storage = 40;
  EXPECT_EQ(dft::dfti_cpu_commit(d.get()), 3) << "storage 40 with packed format 57";
  d.get()->conjugate_even_storage = 39;
  d.get()->packed_format = 56;
  EXPECT_EQ(dft::dfti_cpu_commit(d.get()), 3) << "storage 39 with another packed format";
  d.get()->conjugate_even_storage = 40;
  EXPECT_EQ(dft::dfti_cpu_commit(d.get()), 6) << "the engine does not compute packed formats";
  d.get()->conjugate_even_storage = 39;
  d.get()->packed_format = 57;
  const dft::descriptor_methods* methods = d.get()->methods;
  dft::descriptor_methods no_commit = *methods;
  no_commit.commit = nullptr;
  d.get()->methods = &no_commit;
  EXPECT_EQ(dft::dfti_cpu_commit(d.get()), 7);
  d.get()->methods = methods;
  EXPECT_EQ(dft::dfti_cpu_commit(d.get()), 0);
}

TEST(CpuDftiCompute, Statuses) {
  std::vector<std::complex<float>> a(8), b(8);
  EXPECT_EQ(dft::dfti_cpu_compute_forward_inplace(nullptr, a.data()), 5);
  cpu_descriptor d(false, 32, {8});
  EXPECT_EQ(dft::dfti_cpu_compute_forward_inplace(d.get(), a.data()), 2) << "not committed";
  ASSERT_EQ(dft::dfti_cpu_set_value(d.get(), 11, 44), 0);
  ASSERT_EQ(dft::dfti_cpu_commit(d.get()), 0);
  EXPECT_EQ(dft::dfti_cpu_compute_forward_outofplace(d.get(), a.data(), nullptr), 3);
  EXPECT_EQ(dft::dfti_cpu_compute_backward_outofplace(d.get(), nullptr, b.data()), 3);
  EXPECT_EQ(dft::dfti_cpu_compute_backward_outofplace(d.get(), a.data(), b.data()), 0);
}

TEST(CpuDftiErrorClass, EqualityWithTheClass) {
  EXPECT_EQ(dft::dfti_cpu_error_class(0, 0), 1);
  EXPECT_EQ(dft::dfti_cpu_error_class(3, 0), 0);
  EXPECT_EQ(dft::dfti_cpu_error_class(3, 3), 1);
}

// ---------------------------------------------------------------------------
// Verbose mode.

class CpuDftiVerbose : public ::testing::Test {
protected:
  void SetUp() override {
    qez_standin_set_verbose_mode(1);
    qez_standin_capture_output(1);
    qez_standin_clear_captured_output();
  }
  void TearDown() override {
    qez_standin_capture_output(0);
    qez_standin_set_verbose_mode(0);
  }
  static std::string captured() {
    std::vector<char> text(qez_standin_captured_output(nullptr, 0) + 1);
    qez_standin_captured_output(text.data(), text.size());
    return text.data();
  }
};

TEST_F(CpuDftiVerbose, EveryCallThatReachesTheEngineWritesItsLine) {
  cpu_descriptor d(true, 32, {8});
  ASSERT_EQ(dft::dfti_cpu_set_value(d.get(), 27, std::int64_t{1}), 0);
  auto* data = static_cast<std::complex<double>*>(qez_serv_calloc(16, 16, 64));
  EXPECT_EQ(dft::dfti_cpu_compute_forward_inplace(d.get(), data), 2);
  EXPECT_EQ(captured().find("FFT("), std::string::npos) << "no entry, no line";
  ASSERT_EQ(dft::dfti_cpu_commit(d.get()), 0);
  EXPECT_EQ(dft::dfti_cpu_compute_forward_inplace(d.get(), data), 0);
  EXPECT_EQ(dft::dfti_cpu_compute_backward_inplace(d.get(), data + 1), 0);
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<void*>(d.get()));
  const std::string text = captured();
  EXPECT_NE(text.find("QEZ_VERBOSE FFT(dcfi8,fwd_strides:{0,1},bwd_strides:{0,1},tLim:1,desc:" +
                      std::string(address) + ") "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("FFT(dcbi8,bwd_strides:{0,1},fwd_strides:{0,1},tLim:1,unaligned_input,desc:" +
                      std::string(address) + ") "),
            std::string::npos)
      << text;
  qez_serv_free(data);
}

TEST_F(CpuDftiVerbose, FailingEngineStillWritesItsLine) {
  cpu_descriptor d(false, 32, {8});
  ASSERT_EQ(dft::dfti_cpu_commit(d.get()), 0);
  std::vector<std::complex<float>> a(8), b(8);
  // The record is in place: the engine refuses two different addresses.
  EXPECT_EQ(dft::dfti_cpu_compute_forward_outofplace(d.get(), a.data(), b.data()), 3);
  EXPECT_NE(captured().find("FFT(scfi8,"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Transforms.

struct dfti_case {
  std::string name;
  bool real;
  std::vector<std::int64_t> lengths;
  std::int64_t batch;
  bool in_place;
  bool strided;  // non-unit strides, gaps, offsets and scales
};

void PrintTo(const dfti_case& c, std::ostream* os) { *os << c.name; }

std::vector<dfti_case> dfti_cases() {
  struct shape {
    const char* name;
    std::vector<std::int64_t> lengths;
    std::int64_t batch;
  };
  const std::vector<shape> shapes = {{"r1_n13", {13}, 1},       {"r1_n64x4", {64}, 4},
                                     {"r1_n99", {99}, 2},       {"r2_n9x10", {9, 10}, 1},
                                     {"r2_n7x11", {7, 11}, 3},  {"r3_n5x6x7", {5, 6, 7}, 2},
                                     {"r3_n4x4x4", {4, 4, 4}, 1}, {"r5_n3x2x5x2x3", {3, 2, 5, 2, 3}, 2}};
  std::vector<dfti_case> cases;
  for (bool real : {false, true})
    for (const shape& s : shapes)
      for (bool in_place : {false, true})
        for (bool strided : {false, true})
          cases.push_back({std::string(real ? "real_" : "complex_") + s.name +
                               (in_place ? "_inplace" : "_outofplace") +
                               (strided ? "_strided" : "_packed"),
                           real, s.lengths, s.batch, in_place, strided});
  return cases;
}

template <class Real>
class dfti_runner {
public:
  using complex = std::complex<Real>;
  explicit dfti_runner(const dfti_case& c)
      : c_(c), d_(sizeof(Real) == 8, c.real ? 33 : 32, c.lengths) {
    fwd_extents_ = c.lengths;
    bwd_extents_ = c.real ? qez_test::conjugate_even_extents(c.lengths) : c.lengths;
    std::vector<std::int64_t> rows = c.lengths;
    if (c.real && c.in_place && !c.strided) rows.back() = 2 * (rows.back() / 2 + 1);
    fwd_ = c.strided ? qez_test::make_layout(fwd_extents_, 3, 2, 4) : qez_test::make_layout(rows);
    bwd_ = c.strided ? qez_test::make_layout(bwd_extents_, 2, 1, 3)
                     : qez_test::make_layout(bwd_extents_);
    if (c.strided && !c.real && c.in_place) bwd_ = fwd_;
    if (c.strided) {
      fwd_scale_ = 3.0;
      bwd_scale_ = 1.0 / static_cast<double>(qez_test::element_count(c.lengths));
    }
  }

  void run() {
    DFTI_DESCRIPTOR* r = d_.get();
    ASSERT_EQ(d_.status, 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(r, 11, c_.in_place ? 43 : 44), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(r, 60, dfti_strides(fwd_).data()), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(r, 61, dfti_strides(bwd_).data()), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(r, 7, c_.batch), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(r, 58, fwd_.distance), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(r, 59, bwd_.distance), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(r, 4, fwd_scale_), 0);
    ASSERT_EQ(dft::dfti_cpu_set_value(r, 5, bwd_scale_), 0);
    ASSERT_EQ(dft::dfti_cpu_commit(r), 0);
    forward();
    backward();
  }

private:
  std::size_t units(const strided_layout& l, const std::vector<std::int64_t>& e, bool cplx) const {
    const std::int64_t span = l.span(e, c_.batch);
    return static_cast<std::size_t>(cplx ? span : (span + 1) / 2);
  }

  std::int64_t compute(bool forward, complex* in, complex* out) {
    if (forward)
      return c_.in_place ? dft::dfti_cpu_compute_forward_inplace(d_.get(), in)
                         : dft::dfti_cpu_compute_forward_outofplace(d_.get(), in, out);
    return c_.in_place ? dft::dfti_cpu_compute_backward_inplace(d_.get(), in)
                       : dft::dfti_cpu_compute_backward_outofplace(d_.get(), in, out);
  }

  void forward() {
    const std::size_t in_u = units(fwd_, fwd_extents_, !c_.real), out_u = units(bwd_, bwd_extents_, true);
    std::vector<complex> a(c_.in_place ? std::max(in_u, out_u) : in_u), b(c_.in_place ? 0 : out_u);
    const std::int64_t n = qez_test::element_count(c_.lengths) * c_.batch;
    std::vector<cld> ref;
    if (c_.real) {
      auto* in = reinterpret_cast<Real*>(a.data());
      qez_test::place(qez_test::random_real(n, 21), fwd_extents_, c_.batch, fwd_, in);
      ref = qez_test::reference_r2c(qez_test::collect<long double>(in, fwd_extents_, c_.batch, fwd_),
                                    c_.lengths, c_.batch);
    } else {
      qez_test::place(qez_test::random_complex(n, 22), fwd_extents_, c_.batch, fwd_, a.data());
      ref = qez_test::reference_c2c(qez_test::collect<cld>(a.data(), fwd_extents_, c_.batch, fwd_),
                                    c_.lengths, c_.batch, qez_test::dft_sign::forward);
    }
    for (cld& x : ref) x *= static_cast<long double>(fwd_scale_);
    ASSERT_EQ(compute(true, a.data(), b.data()), 0);
    const complex* out = c_.in_place ? a.data() : b.data();
    expect_accurate(qez_test::collect<cld>(out, bwd_extents_, c_.batch, bwd_), ref, "forward");
  }

  void backward() {
    const std::size_t in_u = units(bwd_, bwd_extents_, true), out_u = units(fwd_, fwd_extents_, !c_.real);
    std::vector<complex> a(c_.in_place ? std::max(in_u, out_u) : in_u), b(c_.in_place ? 0 : out_u);
    const std::int64_t n = qez_test::element_count(c_.lengths) * c_.batch;
    const std::vector<cld> spectrum =
        c_.real ? qez_test::reference_r2c(qez_test::random_real(n, 23), c_.lengths, c_.batch)
                : qez_test::random_complex(n, 24);
    qez_test::place(spectrum, bwd_extents_, c_.batch, bwd_, a.data());
    const auto input = qez_test::collect<cld>(a.data(), bwd_extents_, c_.batch, bwd_);
    const std::vector<complex> kept(a);
    ASSERT_EQ(compute(false, a.data(), b.data()), 0);
    const complex* out = c_.in_place ? a.data() : b.data();
    const long double scale = bwd_scale_;
    if (c_.real) {
      auto ref = qez_test::reference_c2r(input, c_.lengths, c_.batch);
      for (long double& x : ref) x *= scale;
      expect_accurate(qez_test::collect<long double>(reinterpret_cast<const Real*>(out), fwd_extents_,
                                                     c_.batch, fwd_),
                      ref, "backward");
    } else {
      auto ref = qez_test::reference_c2c(input, c_.lengths, c_.batch, qez_test::dft_sign::backward);
      for (cld& x : ref) x *= scale;
      expect_accurate(qez_test::collect<cld>(out, fwd_extents_, c_.batch, fwd_), ref, "backward");
    }
    if (!c_.in_place) {
      EXPECT_EQ(std::memcmp(a.data(), kept.data(), a.size() * sizeof(complex)), 0)
          << "the input of an out-of-place backward transform was overwritten";
    }
  }

  template <class T>
  void expect_accurate(const std::vector<T>& got, const std::vector<T>& ref, const char* what) {
    qez_test::expect_accurate<Real>(got, ref, qez_test::element_count(c_.lengths), what);
  }

  const dfti_case& c_;
  cpu_descriptor d_;
  std::vector<std::int64_t> fwd_extents_, bwd_extents_;
  strided_layout fwd_, bwd_;
  double fwd_scale_ = 1.0, bwd_scale_ = 1.0;
};

class CpuDftiTransform : public ::testing::TestWithParam<std::tuple<dfti_case, bool>> {};

TEST_P(CpuDftiTransform, MatchesLongDoubleReference) {
  const dfti_case& c = std::get<0>(GetParam());
  if (std::get<1>(GetParam())) dfti_runner<double>(c).run();
  else dfti_runner<float>(c).run();
}

INSTANTIATE_TEST_SUITE_P(Layouts, CpuDftiTransform,
                         ::testing::Combine(::testing::ValuesIn(dfti_cases()), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<dfti_case, bool>>& i) {
                           return std::get<0>(i.param).name +
                                  (std::get<1>(i.param) ? "_double" : "_single");
                         });

}  // namespace
