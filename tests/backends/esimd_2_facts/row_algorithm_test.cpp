// With little local memory every pass runs the row algorithm (gathers and
// scatters along the strided dimension, masked partial vector groups, plain
// padded tables): real transforms against the reference.
#include "esimd_case.hpp"

namespace {

using namespace esimd_test;

template <class T>
void check_rows(const lengths_t& lengths, std::uint64_t transforms) {
  sycl::queue q(sycl::gpu_selector_v);
  {
    auto plan = committed_plan<T>(q, lengths, transforms, T(1), T(1));
    ASSERT_TRUE(plan);
    for (std::uint64_t d = 0; d < plan->rank; ++d) EXPECT_EQ(plan->column_batch[d], 0) << plan->describe();
  }
  const long double inverse = 1.0L / static_cast<long double>(points(lengths));
  check_all_forms<T>(q, lengths, transforms, T(1), static_cast<T>(inverse));
}

TEST(EsimdRowAlgorithm, Double2D) {
  check_rows<double>({64, 64}, 2);
  check_rows<double>({64, 90}, 1);  // 10 x 9: partial vector groups before and after the transpose
}
TEST(EsimdRowAlgorithm, Double3D) { check_rows<double>({64, 64, 72}, 1); }
TEST(EsimdRowAlgorithm, Single) {
  check_rows<float>({128, 81}, 3);
  check_rows<float>({128, 625}, 1);  // 25 x 25
  check_rows<float>({64, 64, 100}, 1);
}

}  // namespace
