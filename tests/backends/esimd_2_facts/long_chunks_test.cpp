// A batch larger than the plan's own batch multiplier (no rewriting of the
// plan): double 1024 x 1024, m = 5, six transforms in two chunks, the second
// partial. Long: about 100 MiB of data.
#include "esimd_case.hpp"

namespace {

using namespace esimd_test;

TEST(EsimdLongChunks, Double1024x1024InTwoChunks) {
  sycl::queue q(sycl::gpu_selector_v);
  const lengths_t lengths = {1024, 1024};
  constexpr std::uint64_t transforms = 6;
  auto plan = committed_plan<double>(q, lengths, transforms, 1.0, 1.0);
  ASSERT_TRUE(plan);
  ASSERT_EQ(plan->batch_multiplier, 5u);
  const std::uint64_t n = points(lengths);
  const auto data = to_precision<double>(qez_test::random_complex(static_cast<std::int64_t>(n * transforms), 21));
  for (int direction = 0; direction < 2; ++direction) {
    const auto expected = reference(to_long_double(data), lengths, transforms, direction, 1);
    expect_accurate(run(*plan, direction, container::usm, placement::in_place, data), expected, n, "usm");
    expect_accurate(run(*plan, direction, container::buffer, placement::out_of_place, data), expected, n, "buffer");
  }
}

}  // namespace
