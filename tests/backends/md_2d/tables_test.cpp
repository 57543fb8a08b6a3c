// The device side of the kernel strategies of the 2D main backend: the four
// twiddle tables of the fused strategy as they are written (row tables with
// the scale, column tables without, the lane-pair sign pattern), a missing
// table slot, and the transpose program run on a matrix of known values.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/kernel_types.hpp"
#include "gpu/service/native_handles.hpp"
#include "tests/backends/support/record_harness.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace m = dft::c2c_2d_main;
constexpr long double pi = 3.141592653589793238462643383279502884L;

template <class T>
class FusedTables : public ::testing::Test {
 protected:
  static constexpr bool dbl = sizeof(T) == 8;

  void SetUp() override {
    queue_ = &backend_test::gpu_test_queue();
    b_.queue = queue_;
    b_.double_precision = dbl;
    b_.element_bytes = 2 * sizeof(T);
    b_.subgroup_size = 8;
    b_.scales[0] = static_cast<T>(0.5);
    b_.scales[1] = static_cast<T>(1.0 / 3.0);
    b_.dims[0].length = b_.dims[1].length = 192;
    ASSERT_TRUE(m::plan_row_dimension(b_.dims[0], b_.element_bytes));
    ASSERT_TRUE(m::plan_column_dimension(b_.dims[1], b_.element_bytes));
    b_.workspace_kind = 2;
  }
  void TearDown() override {
    m::bkd_free_buffers(&b_, 2);
    for (void* t : areas_) sycl::free(t, *queue_);
  }
  std::vector<T> table(int t) const {
    const std::int64_t bytes = t < 2 ? b_.dims[0].twiddle_bytes : b_.dims[1].twiddle_bytes;
    std::vector<T> host(static_cast<size_t>(bytes) / sizeof(T));
    queue_->memcpy(host.data(), b_.tables_usm[t], static_cast<size_t>(bytes)).wait();
    return host;
  }
  void allocate_tables() {
    for (int t = 0; t < m::table_count; ++t) {
      const std::int64_t bytes = t < 2 ? b_.dims[0].twiddle_bytes : b_.dims[1].twiddle_bytes;
      areas_.push_back(sycl::malloc_device(static_cast<size_t>(bytes), *queue_));
      b_.tables_usm[t] = areas_.back();
    }
  }
  static long double tolerance() { return 4 * std::numeric_limits<T>::epsilon(); }

  sycl::queue* queue_ = nullptr;
  m::block b_;
  std::vector<void*> areas_;
};

using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FusedTables, precisions);

TYPED_TEST(FusedTables, RowTablesCarryTheScaleAndLanePairSigns) {
  this->allocate_tables();
  ASSERT_EQ(m::bkd_write_twiddle_table_on_device(this->b_), 0);
  for (sycl::event* e : this->b_.table_events) {
    ASSERT_NE(e, nullptr);
    e->wait();
  }
  const m::dim_plan& d = this->b_.dims[0];
  for (int t : {m::row_table_fwd, m::row_table_bwd}) {
    const long double scale = this->b_.scales[t == m::row_table_fwd ? 0 : 1];
    const std::vector<TypeParam> table = this->table(t);
    for (std::int64_t i = 0; i < d.fact0; ++i)
      for (std::int64_t j = 0; j < d.fact1; ++j) {
        const long double angle = 2 * pi * static_cast<long double>(i * j) / d.length;
        const std::int64_t base = (j / 4) * 16 * d.fact0 + i * 16, l = j % 4;
        const long double c = scale * std::cos(angle), s = scale * std::sin(angle);
        EXPECT_NEAR(table[base + 2 * l], c, this->tolerance()) << i << "," << j;
        EXPECT_NEAR(table[base + 2 * l + 1], c, this->tolerance()) << i << "," << j;
        EXPECT_NEAR(table[base + 8 + 2 * l], -s, this->tolerance()) << i << "," << j;
        EXPECT_NEAR(table[base + 8 + 2 * l + 1], s, this->tolerance()) << i << "," << j;
      }
  }
}

TYPED_TEST(FusedTables, ColumnTablesAreEqualAndUnscaled) {
  this->allocate_tables();
  ASSERT_EQ(m::bkd_write_twiddle_table_on_device(this->b_), 0);
  for (sycl::event* e : this->b_.table_events) e->wait();
  const m::dim_plan& d = this->b_.dims[1];
  const std::vector<TypeParam> a = this->table(m::col_table_a);
  const std::vector<TypeParam> b = this->table(m::col_table_b);
  EXPECT_EQ(a, b);
  for (std::int64_t j = 0; j < d.fact1; ++j)
    for (std::int64_t i = 0; i < d.fact0; ++i) {
      const long double angle = 2 * pi * static_cast<long double>(i * j) / d.length;
      const std::int64_t base = j * 16 * d.fact0 + i * 16;
      for (std::int64_t k = 0; k < 8; ++k) {
        EXPECT_NEAR(a[base + k], std::cos(angle), this->tolerance());
        EXPECT_NEAR(a[base + 8 + k], (k % 2 == 0 ? -1 : 1) * std::sin(angle), this->tolerance());
      }
    }
}

TYPED_TEST(FusedTables, MissingSlotIsReportedBeforeAnySubmission) {
  this->allocate_tables();
  this->b_.tables_usm[m::col_table_b] = nullptr;
  EXPECT_EQ(m::bkd_write_twiddle_table_on_device(this->b_), 11);
  for (sycl::event* e : this->b_.table_events) EXPECT_EQ(e, nullptr);
}

// ---------------------------------------------------------------------------

TEST(TransposeProgram, TransposesComplexMatrixTileByTile) {
  sycl::queue& q = backend_test::gpu_test_queue();
  m::transpose_geometry g;
  g.num_rows = 128;
  g.num_cols = 256;
  const std::int64_t sub_group = 16;
  ASSERT_TRUE(m::plan_transpose(g, 65536, sub_group, 16));
  char name[64], options[1024];
  ASSERT_TRUE(m::format_transpose_names(g, sub_group, name, sizeof name, options, sizeof options));
  const char* text = dft::kernels::program_text(m::transpose_family, false);
  ASSERT_NE(text, nullptr);
  int status = 0;
  sycl::kernel* kernel = ulmara::qez::gpu::get_OCL_kernel_by_progname(
      &status, &q, ulmara::qez::gpu::domain_dft, m::transpose_program_name(0), text, name, options);
  ASSERT_NE(kernel, nullptr);

  const size_t n = static_cast<size_t>(g.num_rows * g.num_cols);
  std::vector<std::complex<float>> host(n);
  for (size_t k = 0; k < n; ++k) host[k] = {static_cast<float>(k), -static_cast<float>(k) - 0.5f};
  auto* in = sycl::malloc_device<std::complex<float>>(n, q);
  auto* out = sycl::malloc_device<std::complex<float>>(n, q);
  q.memcpy(in, host.data(), n * sizeof(host[0])).wait();
  q.submit([&](sycl::handler& cgh) {
     cgh.set_arg(0, static_cast<void*>(in));
     cgh.set_arg(1, static_cast<void*>(out));
     cgh.set_arg(2, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(g.local_bytes)), cgh));
     cgh.parallel_for(sycl::nd_range<2>(sycl::range<2>(static_cast<size_t>(g.row_groups), static_cast<size_t>(g.col_items)),
                                        sycl::range<2>(1, static_cast<size_t>(g.work_group_size))),
                      *kernel);
   }).wait();
  std::vector<std::complex<float>> result(n);
  q.memcpy(result.data(), out, n * sizeof(result[0])).wait();
  sycl::free(in, q);
  sycl::free(out, q);
  ulmara::qez::gpu::release_kernel_obj(&status, kernel);
  std::int64_t wrong = 0;
  for (std::int64_t r = 0; r < g.num_rows; ++r)
    for (std::int64_t c = 0; c < g.num_cols; ++c)
      if (result[static_cast<size_t>(c * g.num_rows + r)] != host[static_cast<size_t>(r * g.num_cols + c)]) ++wrong;
  EXPECT_EQ(wrong, 0);
}

TEST(TransposeProgram, InvalidVectorSizeStopsTheBuild) {
  sycl::queue& q = backend_test::gpu_test_queue();
  const char* text = dft::kernels::program_text(m::transpose_family, false);
  ASSERT_NE(text, nullptr);
  int status = 0;
  const char* options =
      "-DKERNEL_FUNC=transpose_bad -DWORK_GROUP_SIZE=16 -DSUBGROUP_SIZE=16 -DNUM_ROWS=64 -DNUM_COLS=64 "
      "-DVECTOR_READ_SIZE=3 -DVECTOR_WRITE_SIZE=1 ";
  EXPECT_THROW(ulmara::qez::gpu::get_OCL_kernel_by_progname(&status, &q, ulmara::qez::gpu::domain_dft,
                                                            m::transpose_program_name(1), text, "transpose_bad",
                                                            options),
               sycl::exception);
}

}  // namespace
