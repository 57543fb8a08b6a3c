#include "ulmara/qez/vm/error_handler.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <memory>

namespace {

using ulmara::qez::vm::detail::error_handler;
using ulmara::qez::vm::detail::error_handler_base;
using status = ulmara::qez::vm::enums::status;

template <class T>
class ErrorHandler : public ::testing::Test {};
using value_types =
    ::testing::Types<sycl::half, float, double, std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(ErrorHandler, value_types);

template <class T>
error_handler<T> make_handler(sycl::buffer<status, 1> statuses, T value) {
  return error_handler<T>(statuses, true, false, 11, 22, 33, value, true);
}

status read_status(const sycl::buffer<status, 1>& b, std::size_t i) {
  auto copy = b;
  sycl::host_accessor<status, 1, sycl::access_mode::read> acc(copy);
  return acc[i];
}

TYPED_TEST(ErrorHandler, CopyKeepsTheSharedBufferAfterTheSourceIsGone) {
  using T = TypeParam;
  sycl::buffer<status, 1> statuses{sycl::range<1>(4)};
  {
    sycl::host_accessor<status, 1> acc(statuses);
    for (int i = 0; i < 4; ++i) acc[i] = static_cast<status>(i + 1);
  }
  auto source = std::make_unique<error_handler<T>>(make_handler<T>(statuses, T(2.5f)));
  error_handler<T> copy(*source);
  source.reset();
  EXPECT_TRUE(copy.first_flag());
  EXPECT_FALSE(copy.second_flag());
  EXPECT_EQ(copy.first_word(), 11u);
  EXPECT_EQ(copy.second_word(), 22u);
  EXPECT_EQ(copy.third_word(), 33u);
  EXPECT_TRUE(copy.value() == T(2.5f));
  EXPECT_TRUE(copy.last_flag());
  EXPECT_EQ(read_status(copy.statuses(), 3), static_cast<status>(4));
}

TYPED_TEST(ErrorHandler, MoveConstructionLeavesTheSourceUnchanged) {
  using T = TypeParam;
  sycl::buffer<status, 1> statuses{sycl::range<1>(2)};
  error_handler<T> source = make_handler<T>(statuses, T(1.0f));
  error_handler<T> moved(std::move(source));
  EXPECT_EQ(source.statuses().size(), 2u);  // still refers to the buffer
  EXPECT_EQ(moved.statuses().size(), 2u);
  EXPECT_TRUE(source.value() == T(1.0f));
}

TYPED_TEST(ErrorHandler, MoveAssignmentTakesTheSourcesBufferAndFields) {
  using T = TypeParam;
  sycl::buffer<status, 1> first{sycl::range<1>(3)}, second{sycl::range<1>(5)};
  error_handler<T> target = make_handler<T>(first, T(1.0f));
  error_handler<T> source(second, false, true, 7, 8, 9, T(4.0f), false);
  target = std::move(source);
  EXPECT_EQ(target.statuses().size(), 5u);
  EXPECT_FALSE(target.first_flag());
  EXPECT_TRUE(target.second_flag());
  EXPECT_EQ(target.first_word(), 7u);
  EXPECT_TRUE(target.value() == T(4.0f));
  EXPECT_FALSE(target.last_flag());
}

TYPED_TEST(ErrorHandler, CopyAssignmentSharesTheBuffer) {
  using T = TypeParam;
  sycl::buffer<status, 1> first{sycl::range<1>(3)}, second{sycl::range<1>(6)};
  error_handler<T> target = make_handler<T>(first, T(1.0f));
  const error_handler<T> source(second, false, false, 1, 2, 3, T(8.0f), false);
  target = source;
  EXPECT_EQ(target.statuses().size(), 6u);
  EXPECT_EQ(source.statuses().size(), 6u);
  EXPECT_TRUE(target.value() == T(8.0f));
}

TEST(ErrorHandlerBase, DestroysThroughTheBase) {
  sycl::buffer<status, 1> statuses{sycl::range<1>(1)};
  std::unique_ptr<error_handler_base> handler =
      std::make_unique<error_handler<double>>(statuses, true, true, 1, 2, 3, 4.0, true);
  handler.reset();
  EXPECT_EQ(statuses.size(), 1u);  // the caller's handle is untouched
}

}  // namespace
