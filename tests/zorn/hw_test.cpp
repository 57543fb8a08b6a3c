// Generation numbers, architecture numbers, product codes and register sizes.
#include <gtest/gtest.h>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/hw.hpp"

namespace zorn = ulmara::qez::zorn;

namespace {

struct GenerationRow {
  zorn::HW hw;
  zorn::GpuArchitecture architecture;
  std::vector<zorn::ProductFamily> reported;
  bool has_generator;
  zorn::ProductFamily stored;
  std::uint32_t grf;
};

// The generation table, row by row.
const std::vector<GenerationRow> table{
    {1, 1, {1}, true, 1, 32},       {2, 0, {}, false, 0, 32},       {3, 2, {3}, true, 3, 32},
    {4, 3, {4}, true, 4, 32},       {5, 4, {5}, false, 0, 32},      {6, 5, {7, 8, 9}, true, 6, 32},
    {7, 6, {11, 12}, true, 10, 64}, {8, 7, {13}, true, 13, 64},     {9, 8, {14}, true, 14, 64},
    {10, 9, {15}, false, 0, 64},
};

class GenerationTable : public ::testing::TestWithParam<GenerationRow> {};

TEST_P(GenerationTable, RowMatches) {
  const GenerationRow& row = GetParam();
  EXPECT_EQ(zorn::architecture_of(row.hw), row.architecture);
  if (row.architecture != 0) {
    EXPECT_EQ(zorn::hw_of_architecture(row.architecture), row.hw);
  }
  EXPECT_EQ(zorn::grf_bytes(row.hw), row.grf);
  EXPECT_EQ(zorn::has_generator(row.hw), row.has_generator);
  for (zorn::ProductFamily code : row.reported) {
    EXPECT_TRUE(zorn::reports_product_code(row.hw, code));
    EXPECT_EQ(zorn::hw_of_reported_product_code(code), row.hw);
  }
  if (row.has_generator) {
    EXPECT_EQ(zorn::generator_product_code(row.hw), row.stored);
    zorn::CodeGenerator generator(row.hw);
    EXPECT_EQ(generator.product_code, row.stored);
    EXPECT_EQ(generator.hw(), row.hw);
  } else {
    EXPECT_THROW(zorn::generator_product_code(row.hw), zorn::invalid_object_exception);
    EXPECT_THROW(zorn::CodeGenerator generator(row.hw), zorn::invalid_object_exception);
  }
}

INSTANTIATE_TEST_SUITE_P(Zorn, GenerationTable, ::testing::ValuesIn(table),
                         [](const auto& info) { return "hw" + std::to_string(info.param.hw); });

TEST(GenerationNumbers, OtherValuesMapToArchitectureZero) {
  for (zorn::HW hw : {-5, -1, 0, 11, 12, 100, 1 << 30}) {
    EXPECT_EQ(zorn::architecture_of(hw), 0) << hw;
    EXPECT_FALSE(zorn::has_generator(hw)) << hw;
  }
  EXPECT_EQ(zorn::hw_of_architecture(0), 0);
  EXPECT_EQ(zorn::hw_of_architecture(10), 0);
  EXPECT_EQ(zorn::hw_of_reported_product_code(6), 0);  // the generic Gulon code is stored, not reported
  EXPECT_EQ(zorn::hw_of_reported_product_code(10), 0);
}

TEST(GenerationNumbers, RegisterSizeThreshold) {
  for (zorn::HW hw = -3; hw < 7; ++hw) EXPECT_EQ(zorn::grf_bytes(hw), 32u) << hw;
  for (zorn::HW hw = 7; hw < 20; ++hw) EXPECT_EQ(zorn::grf_bytes(hw), 64u) << hw;
}

}  // namespace
