// The two-factor plan on the host: factor choice, paddings and work-group
// geometry, names and exact option strings, size tests and batch grouping.
#include <gtest/gtest.h>

#include "dft/gpu/backends/1d_basic/two_factor/plan.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/twiddle_workspace.hpp"
#include "tests/backends/support/option_goldens.hpp"

namespace tf = ulmara::qez::dft::two_factor;

namespace {

tf::factors factors_of(std::int64_t n) { return tf::choose_factors(n); }

TEST(two_factor_factors, small_lengths) {
  EXPECT_FALSE(factors_of(0).found);
  EXPECT_FALSE(factors_of(2).found);
  EXPECT_EQ(factors_of(4).fact0, 2);
  EXPECT_EQ(factors_of(4).fact1, 2);
  // The larger factor 3 is odd, so FACT0 takes the even one.
  EXPECT_EQ(factors_of(6).fact0, 2);
  EXPECT_EQ(factors_of(6).fact1, 3);
}

TEST(two_factor_factors, fixed_and_searched_pairs) {
  EXPECT_EQ(factors_of(128).fact0, 8);
  EXPECT_EQ(factors_of(128).fact1, 16);
  // 130 = 10 x 13: pairs with a factor above 64 are skipped.
  EXPECT_EQ(factors_of(130).fact0, 10);
  EXPECT_EQ(factors_of(130).fact1, 13);
  EXPECT_EQ(factors_of(1020).fact0, 34);
  EXPECT_EQ(factors_of(1020).fact1, 30);
  EXPECT_EQ(factors_of(2048).fact0, 64);
  EXPECT_EQ(factors_of(2048).fact1, 32);
  EXPECT_EQ(factors_of(4096).fact0, 64);
  EXPECT_EQ(factors_of(4096).fact1, 64);
  EXPECT_EQ(factors_of(1600).fact0, 40);
  EXPECT_EQ(factors_of(1600).fact1, 40);
  // 2 x 67: no pair of factors up to 64.
  EXPECT_FALSE(factors_of(134).found);
}

TEST(two_factor_geometry, fact0_above_fact1_takes_several_row_passes) {
  const tf::geometry g = tf::plan_geometry(factors_of(2048), sizeof(float));
  EXPECT_EQ(g.padfact0, 0);
  EXPECT_EQ(g.padfact1, 0);
  EXPECT_EQ(g.work_group_size, 64);
  EXPECT_EQ(g.fact1_loop_bound, 2);
  EXPECT_EQ(g.slm_bytes, 2 * 2048 * 4);
  EXPECT_TRUE(tf::geometry_fits(g));
}

TEST(two_factor_geometry, padded_factors_of_1020) {
  const tf::geometry g = tf::plan_geometry(factors_of(1020), sizeof(double));
  EXPECT_EQ(g.padfact0, 2);
  EXPECT_EQ(g.padfact1, 2);
  // PF0/4 = 9, PF1/4 = 8: the smallest divisor of 9 from 8 up is 9.
  EXPECT_EQ(g.work_group_size, 72);
  EXPECT_EQ(g.fact1_loop_bound, 1);
  EXPECT_EQ(g.slm_bytes, std::max<std::int64_t>((2 + 2 * 1020) * 8, 34 * 32 * 2 * 8));
}

TEST(two_factor_geometry, fact0_not_above_fact1) {
  const tf::geometry g = tf::plan_geometry(factors_of(128), sizeof(float));
  EXPECT_EQ(g.work_group_size, 8 * (16 / 4));
  EXPECT_EQ(g.fact1_loop_bound, 1);
  const tf::geometry square = tf::plan_geometry(factors_of(4096), sizeof(float));
  EXPECT_EQ(square.work_group_size, 128);
  EXPECT_EQ(square.slm_bytes, 2 * 4096 * 4);
}

tf::program_request request(bool double_precision, std::int64_t n, std::int64_t howmany,
                            std::int64_t per_group = 1) {
  tf::program_request p;
  p.double_precision = double_precision;
  p.n = n;
  p.f = factors_of(n);
  p.g = tf::plan_geometry(p.f, double_precision ? 8 : 4);
  p.batch.howmany = howmany;
  p.batch.fwd_distance = n;
  p.batch.bwd_distance = n;
  p.batch_per_group = per_group;
  p.batch_for_last_group = tf::batch_for_last_group(howmany, per_group);
  return p;
}

TEST(two_factor_options, double_1020_uses_a_generic_fact0) {
  const tf::program_names names = tf::make_program_names(true, 1020, factors_of(1020));
  EXPECT_EQ(names.kernel, "fft_1020_rowbatch_d");
  EXPECT_EQ(names.fact0_func, "fft_34_default0_s");
  EXPECT_EQ(names.fact1_func, "fft_30_s");
  EXPECT_EQ(tf::make_build_options(request(true, 1020, 5), tf::dir_forward),
            backend_test::golden_options("two_factor", backend_test::precision::double_precision, "1020 x 5, forward"));
}

TEST(two_factor_options, double_1024_uses_codelets_only) {
  const std::string o = tf::make_build_options(request(true, 1024, 1), tf::dir_backward);
  EXPECT_EQ(o, backend_test::golden_options("two_factor", backend_test::precision::double_precision, "1024, backward"));
}

TEST(two_factor_options, single_2048_and_4096) {
  EXPECT_EQ(tf::make_build_options(request(false, 2048, 3), tf::dir_forward),
            backend_test::golden_options("two_factor", backend_test::precision::single_precision, "2048 x 3, forward"));
  EXPECT_EQ(tf::make_build_options(request(false, 4096, 1), tf::dir_forward),
            backend_test::golden_options("two_factor", backend_test::precision::single_precision, "4096, forward"));
  EXPECT_EQ(tf::make_program_names(false, 1600, factors_of(1600)).fact0_func, "fft_40_s");
}

TEST(two_factor_options, grouped_batches_name_the_last_group) {
  const std::string o = tf::make_build_options(request(true, 64, 9, 4), tf::dir_forward);
  EXPECT_NE(o.find("-DFACT1_LOOP_BOUND=1 -DBATCH_PER_GROUP=4 -DBATCH_FOR_LAST_GROUP=1 "), std::string::npos) << o;
}

TEST(two_factor_options, io_distances_serve_both_directions_alike) {
  tf::program_request p = request(false, 64, 2);
  p.batch = {2, 1, 0, 0, 70, 72};
  EXPECT_NE(tf::make_build_options(p, tf::dir_backward).find("-DIDIST=70 -DODIST=72 "), std::string::npos);
  p.batch = {2, 0, 70, 72, 0, 0};
  EXPECT_NE(tf::make_build_options(p, tf::dir_backward).find("-DIDIST=72 -DODIST=70 "), std::string::npos);
}

TEST(two_factor_size_tests, double_stops_at_1024_single_needs_even_output_distances) {
  tf::batch_layout even{3, 0, 64, 64, 0, 0};
  EXPECT_TRUE(tf::size_test_passes(true, 1024, even, 2));
  EXPECT_FALSE(tf::size_test_passes(true, 1026, even, 2));
  EXPECT_TRUE(tf::size_test_passes(false, 4096, even, 2));
  tf::batch_layout odd_backward{3, 0, 64, 65, 0, 0};  // forward output distance 65
  EXPECT_FALSE(tf::size_test_passes(false, 64, odd_backward, 2));
  EXPECT_FALSE(tf::size_test_passes(false, 64, odd_backward, 0));
  EXPECT_TRUE(tf::size_test_passes(false, 64, odd_backward, 1));
  tf::batch_layout odd_io{3, 1, 0, 0, 64, 63};
  EXPECT_FALSE(tf::size_test_passes(false, 64, odd_io, 1));
}

TEST(two_factor_batches, grouping_by_architecture) {
  EXPECT_EQ(tf::batch_per_group_for(true, 1024, 1), 4);
  EXPECT_EQ(tf::batch_per_group_for(true, 64, 3), 4);
  EXPECT_EQ(tf::batch_per_group_for(false, 1024, 1), 4);
  EXPECT_EQ(tf::batch_per_group_for(false, 2048, 1), 1);
  EXPECT_EQ(tf::batch_per_group_for(false, 64, 5), 1);
  EXPECT_EQ(tf::batch_for_last_group(9, 4), 1);
  EXPECT_EQ(tf::batch_for_last_group(8, 4), 4);
  EXPECT_EQ(tf::batch_for_last_group(5, 1), 1);
}

TEST(two_factor_table, layout_for_block_reads) {
  // Column group j/4, row run of 16 elements, two per column.
  EXPECT_EQ(tf::table_offset(8, 0, 0), 0);
  EXPECT_EQ(tf::table_offset(8, 0, 3), 6);
  EXPECT_EQ(tf::table_offset(8, 1, 0), 16);
  EXPECT_EQ(tf::table_offset(8, 2, 5), 1 * 16 * 8 + 2 * 16 + 2);
  EXPECT_EQ(tf::raw_table_bytes(factors_of(1020), 2, 8), 34 * 32 * 32);
  EXPECT_EQ(tf::raw_table_bytes(factors_of(1020), 2, 4), 34 * 32 * 16);
}

}  // namespace
