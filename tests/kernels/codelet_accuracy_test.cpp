// Every codelet fft_1_s .. fft_64_s of both precisions and its split form
// fft_N_s_split, in both directions, against a long-double DFT, within the
// library's accuracy bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "tests/kernels/test_program.hpp"

namespace qez_kernels_test {
namespace {

using qez_test::bounds_for;
using qez_test::measure;

constexpr int transforms_per_size = 5;

class codelet_accuracy : public ::testing::TestWithParam<std::tuple<real_kind, direction>> {};

TEST_P(codelet_accuracy, every_size_matches_the_reference_dft) {
  const auto [kind, dir] = GetParam();
  opencl_runner& runner = opencl_runner::instance();
  ASSERT_TRUE(runner.available()) << "no OpenCL device";
  const cl_program program = codelet_program(kind, dir);
  const qez_test::dft_sign sign =
      dir == direction::forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward;
  for (const char* form : {"", "_split"}) {
    for (int size = 1; size <= 64; ++size) {
      const std::string name = "fft_" + std::to_string(size) + "_s" + form;
      SCOPED_TRACE(name);
      const std::vector<cld> input =
          rounded_to(qez_test::random_complex(size * transforms_per_size, 1000 + size), kind);
      std::vector<std::vector<unsigned char>> buffers = {to_device_layout(input, kind),
                                                         to_device_layout(input, kind)};
      runner.run(program, *form ? "run_split_codelet" : "run_codelet", {transforms_per_size}, buffers,
                 {kernel_arg::buf(0), kernel_arg::buf(1), kernel_arg::u32(size)});
      const std::vector<cld> got = from_device_layout(buffers[1], kind);
      const std::vector<cld> want = qez_test::reference_c2c(input, {size}, transforms_per_size, sign);
      const auto error = measure(got, want);
      const auto bounds = bounds_for(epsilon_of(kind), size);
      record_accuracy(kind, name + " " + name_of(dir), error, bounds);
      EXPECT_TRUE(qez_test::within(error, bounds)) << qez_test::describe(error, bounds);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    all, codelet_accuracy,
    ::testing::Combine(::testing::Values(real_kind::single_precision, real_kind::double_precision),
                       ::testing::Values(direction::forward, direction::backward)),
    [](const auto& info) {
      return std::string(name_of(std::get<0>(info.param))) + "_" + name_of(std::get<1>(info.param));
    });

}  // namespace
}  // namespace qez_kernels_test
