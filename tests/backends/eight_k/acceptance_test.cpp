// Which records the 8192-point backend takes (default profile): exactly 8192
// points, unit strides, no offsets, interleaved complex storage, and every
// transform 8192 points from the next on both sides.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/eight_k/eight_k_case.hpp"

namespace eight_k_test {
namespace {

const dft::backend_table& table_of(precision p) {
  return p == precision::double_precision ? dft::dft_c2c_8k_2_facts_gpu_bkd_table_double
                                          : dft::dft_c2c_8k_2_facts_gpu_bkd_table_float;
}

// Commits through the list; when this backend did not take the record, its
// own commit declines it again without touching it.
bool accepted(const record_config& c) {
  committed_record r(c);
  if (r.committed_here()) return true;
  const dft::backend_table* before = r.record()->backend;
  EXPECT_EQ(table_of(c.p).bkd_commit(&table_of(c.p), r.record()), dft::status_not_handled);
  EXPECT_EQ(r.record()->backend, before);
  return false;
}

record_config with_length(precision p, std::int64_t length) {
  record_config c;
  c.p = p;
  c.length = length;
  c.in_distance = c.out_distance = length;
  c.internal_workspace = false;
  return c;
}

class Lengths : public ::testing::TestWithParam<precision> {};

TEST_P(Lengths, OnlyExactly8192) {
  EXPECT_TRUE(accepted(with_length(GetParam(), 8192)));
  for (std::int64_t other : {4096, 8191, 8193, 16384})
    EXPECT_FALSE(accepted(with_length(GetParam(), other))) << other;
}

INSTANTIATE_TEST_SUITE_P(EightK, Lengths,
                         ::testing::Values(precision::single_precision, precision::double_precision));

record_config batch_of(std::int64_t count, distances convention, std::int64_t in, std::int64_t out) {
  record_config c;
  c.count = count;
  c.convention = convention;
  c.in_distance = in;
  c.out_distance = out;
  c.internal_workspace = false;
  return c;
}

TEST(DistanceRule, ForwardAndBackwardDistancesOf8192) {
  EXPECT_TRUE(accepted(batch_of(3, distances::forward_backward, n, n)));
  EXPECT_FALSE(accepted(batch_of(3, distances::forward_backward, n, n + 8)));
  EXPECT_FALSE(accepted(batch_of(3, distances::forward_backward, n + 8, n)));
}

TEST(DistanceRule, InputAndOutputDistancesOf8192) {
  EXPECT_TRUE(accepted(batch_of(3, distances::input_output, n, n)));
  EXPECT_FALSE(accepted(batch_of(3, distances::input_output, n, 2 * n)));
  EXPECT_FALSE(accepted(batch_of(3, distances::input_output, 2 * n, n)));
}

TEST(DistanceRule, OneTransformNeedsTheDistancesToo) {
  EXPECT_TRUE(accepted(batch_of(1, distances::forward_backward, n, n)));
  EXPECT_FALSE(accepted(batch_of(1, distances::none, 0, 0)));
}

TEST(DistanceRule, SameRuleForEveryDirectionSet) {
  for (std::uint32_t directions : {0u, 1u, 2u}) {
    record_config c = batch_of(2, distances::forward_backward, n, n);
    c.directions = directions;
    EXPECT_TRUE(accepted(c)) << directions;
    c.out_distance = n + 2;
    EXPECT_FALSE(accepted(c)) << directions;
  }
}

// Records that pass the list's validation but fail one of the first tests.
TEST(FirstTests, DeclinedWithoutTouchingTheRecord) {
  committed_record r(batch_of(1, distances::forward_backward, n, n));
  ASSERT_TRUE(r.committed_here());
  DFTI_DESCRIPTOR* rec = r.record();
  const dft::backend_table& t = table_of(precision::double_precision);
  const auto check = [&](auto&& spoil, auto&& mend, const char* what) {
    spoil();
    EXPECT_EQ(t.bkd_commit(&t, rec), dft::status_not_handled) << what;
    EXPECT_EQ(rec->commit_status, dft::dfti_committed) << what;
    mend();
  };
  check([&] { rec->fused_twiddle_length = 4; }, [&] { rec->fused_twiddle_length = 0; }, "fused twiddle");
  check([&] { rec->complex_storage = dft::dfti_real_real; }, [&] { rec->complex_storage = dft::dfti_complex_complex; },
        "split storage");
  check([&] { rec->domain = dft::dfti_real; }, [&] { rec->domain = dft::dfti_complex; }, "real domain");
  check([&] { rec->fwd_offset = 2; }, [&] { rec->fwd_offset = 0; }, "offset");
  check([&] { rec->work_lengths.records[0].input = 2; }, [&] { rec->work_lengths.records[0].input = 1; },
        "input stride");
  check([&] { rec->work_lengths.records[0].output = 3; }, [&] { rec->work_lengths.records[0].output = 1; },
        "output stride");
  check([&] { rec->work_batch.count = 2; }, [&] { rec->work_batch.count = 1; }, "batch rank");
  // And the untouched record commits again.
  EXPECT_EQ(t.bkd_commit(&t, rec), dft::status_success);
}

TEST(Free, RecordOfAnotherBackendIsLeftAlone) {
  committed_record r(with_length(precision::double_precision, 4096));
  ASSERT_FALSE(r.committed_here());
  const dft::backend_table& t = table_of(precision::double_precision);
  const auto status = r.record()->commit_status;
  EXPECT_EQ(t.bkd_free(&t, r.record()), dft::status_internal_error);
  EXPECT_EQ(r.record()->commit_status, status);
}

TEST(Free, OwnRecordIsReleased) {
  committed_record r(batch_of(2, distances::forward_backward, n, n));
  ASSERT_TRUE(r.committed_here());
  const dft::backend_table& t = table_of(precision::double_precision);
  EXPECT_EQ(t.bkd_free(&t, r.record()), dft::status_success);
  EXPECT_EQ(r.record()->commit_status, dft::dfti_uncommitted);
  EXPECT_EQ(r.record()->compute_fwd, nullptr);
  EXPECT_EQ(r.record()->bkd_data, nullptr);
}

}  // namespace
}  // namespace eight_k_test
