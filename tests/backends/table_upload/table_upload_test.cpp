// Twiddle tables made on the host and uploaded by the shared helper: into a
// USM table and into a byte sub-buffer of a buffer workspace, each entry the
// exact unit root rounded once (checked against a direct long-double
// formula), the rest of a larger slice zero, a read submitted right after
// the upload, without a wait, ordered behind it, and host storage that lives
// until its copy has completed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <future>
#include <memory>
#include <vector>

#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"
#include "dft/gpu/core/table_upload.hpp"
#include "tests/backends/support/record_harness.hpp"

namespace table_upload_test {
namespace {

namespace qd = ulmara::qez::dft;
namespace f2 = qd::fused_2_facts;
using qd::byte_buffer;

constexpr long double pi_l = 3.141592653589793238462643383279502884L;
constexpr std::int64_t fact0 = 15, fact1 = 9, points = fact0 * fact1, lanes = 8;

// Column-table entry (r, c): lanes cosines, then -sin, +sin, ... of
// 2 pi r c / points, each the long-double value rounded once.
template <class T>
void expect_column_table(const std::vector<T>& table) {
  for (std::int64_t r = 0; r < fact1; ++r)
    for (std::int64_t c = 0; c < fact0; ++c) {
      const long double angle = 2 * pi_l * static_cast<long double>((r * c) % points) / points;
      const T cs = static_cast<T>(std::cos(angle));
      const T sn = static_cast<T>(std::sin(angle));
      const std::size_t base = static_cast<std::size_t>(2 * lanes * (fact0 * r + c));
      for (std::int64_t k = 0; k < lanes; ++k) {
        EXPECT_EQ(table[base + k], cs) << "r " << r << " c " << c;
        EXPECT_EQ(table[base + lanes + k], k % 2 == 0 ? -sn : sn) << "r " << r << " c " << c;
      }
    }
}

template <class T>
class TableUpload : public ::testing::Test {
 protected:
  const f2::column_table_writer<T> writer_{fact0, lanes, points};
  const sycl::range<2> range_{static_cast<std::size_t>(fact1), static_cast<std::size_t>(fact0)};
  const std::size_t values_ = writer_.values(range_);
};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(TableUpload, precisions);

TYPED_TEST(TableUpload, UsmTableIsTheRoundedExactValuesAndReadableWithoutAWait) {
  using T = TypeParam;
  sycl::queue& q = backend_test::gpu_test_queue();
  T* table = sycl::malloc_device<T>(this->values_, q);
  ASSERT_NE(table, nullptr);
  const sycl::event uploaded = f2::upload_line_table<T>(q, this->writer_, this->range_, f2::table_target{table, nullptr});
  std::vector<T> back(this->values_, T(-7));
  q.memcpy(back.data(), table, this->values_ * sizeof(T), uploaded).wait();
  sycl::free(table, q);
  expect_column_table(back);
}

TYPED_TEST(TableUpload, SubBufferSliceHoldsTheTableThenZeros) {
  using T = TypeParam;
  sycl::queue& q = backend_test::gpu_test_queue();
  const std::size_t slice_values = this->values_ + 3 * lanes;
  byte_buffer workspace{sycl::range<1>((slice_values + 2 * lanes) * sizeof(T))};
  {
    sycl::host_accessor<char, 1, sycl::access_mode::write> all(workspace);
    std::memset(&all[0], 0x55, workspace.byte_size());
  }
  byte_buffer slice(workspace, sycl::id<1>(2 * lanes * sizeof(T)), sycl::range<1>(slice_values * sizeof(T)));
  f2::upload_line_table<T>(q, this->writer_, this->range_, f2::table_target{nullptr, &slice});
  sycl::host_accessor<char, 1, sycl::access_mode::read> bytes(workspace);
  const T* all = reinterpret_cast<const T*>(&bytes[0]);
  const std::vector<T> table(all + 2 * lanes, all + 2 * lanes + this->values_);
  expect_column_table(table);
  for (std::size_t i = this->values_; i < slice_values; ++i) EXPECT_EQ(all[2 * lanes + i], T(0)) << "slot " << i;
  // What lies before the slice is not the table's.
  for (std::int64_t i = 0; i < 2 * lanes; ++i) {
    T guard;
    std::memset(&guard, 0x55, sizeof(T));
    EXPECT_EQ(std::memcmp(&all[i], &guard, sizeof(T)), 0) << "guard " << i;
  }
}

// A copy held back behind a host task keeps its host storage alive once
// every other holder has let go of it (the host table cache may drop a table
// at any time); after the copy has completed, the next upload lets go of it.
TEST(UploadSources, HostStorageLivesUntilItsCopyHasCompleted) {
  sycl::queue& q = backend_test::gpu_test_queue();
  constexpr std::size_t count = 4096;
  auto storage = std::make_shared<const std::vector<float>>(count, 1.5f);
  const std::weak_ptr<const std::vector<float>> watched = storage;
  float* target = sycl::malloc_device<float>(count, q);
  float* other_target = sycl::malloc_device<float>(1, q);
  ASSERT_NE(target, nullptr);
  ASSERT_NE(other_target, nullptr);
  std::promise<void> open;
  const std::shared_future<void> opened = open.get_future().share();
  const sycl::event gate = q.submit([&](sycl::handler& h) { h.host_task([opened] { opened.wait(); }); });
  sycl::event copied =
      qd::submit_table_copy<float>(q, target, false, storage, {gate}, qd::table_writer_location(__LINE__));
  storage.reset();
  EXPECT_FALSE(watched.expired()) << "the storage went before its copy ran";
  open.set_value();
  copied.wait();
  const auto other = std::make_shared<const std::vector<float>>(1, 2.0f);
  qd::submit_table_copy<float>(q, other_target, false, other, {}, qd::table_writer_location(__LINE__)).wait();
  EXPECT_TRUE(watched.expired()) << "the storage of a completed copy was kept";
  std::vector<float> back(count, 0.0f);
  q.memcpy(back.data(), target, count * sizeof(float)).wait();
  sycl::free(target, q);
  sycl::free(other_target, q);
  for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(back[i], 1.5f) << "entry " << i;
}

}  // namespace
}  // namespace table_upload_test
