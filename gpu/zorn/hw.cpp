// Generation table of zorn: one row per generation number.
#include "gpu/zorn/hw.hpp"

#include <algorithm>
#include <array>

#include "gpu/zorn/exceptions.hpp"

namespace ulmara::qez::zorn {
namespace {

constexpr std::array<GenerationInfo, 10> generations{{
    {hw::vemra, "Vemra", 1, true, 1, grf_bytes_narrow},
    {hw::unlabelled, "(unlabelled)", 0, false, 0, grf_bytes_narrow},
    {hw::sutal, "Sutal", 2, true, 3, grf_bytes_narrow},
    {hw::dorik, "Dorik", 3, true, 4, grf_bytes_narrow},
    {hw::fenwa, "Fenwa", 4, false, 0, grf_bytes_narrow},
    {hw::gulon, "Gulon", 5, true, 6, grf_bytes_narrow},
    {hw::harix, "Harix", 6, true, 10, grf_bytes_wide},
    {hw::jorva, "Jorva", 7, true, 13, grf_bytes_wide},
    {hw::lumet, "Lumet", 8, true, 14, grf_bytes_wide},
    {hw::nopra, "Nopra", 9, false, 0, grf_bytes_wide},
}};

// Product codes that devices of each generation report.
struct ReportedCode {
  HW hw;
  ProductFamily code;
};
constexpr std::array<ReportedCode, 12> reported_codes{{
    {hw::vemra, 1}, {hw::sutal, 3}, {hw::dorik, 4}, {hw::fenwa, 5}, {hw::gulon, 7}, {hw::gulon, 8},
    {hw::gulon, 9}, {hw::harix, 11}, {hw::harix, 12}, {hw::jorva, 13}, {hw::lumet, 14}, {hw::nopra, 15},
}};

static_assert(generations.size() == static_cast<std::size_t>(hw::last - hw::first + 1),
              "one row per generation number");

}  // namespace

const GenerationInfo* generation_info(HW hw) {
  if (hw < hw::first || hw > hw::last) return nullptr;
  return &generations[static_cast<std::size_t>(hw - hw::first)];
}

GpuArchitecture architecture_of(HW hw) {
  const GenerationInfo* info = generation_info(hw);
  return info ? info->architecture : unknown_architecture;
}

HW hw_of_architecture(GpuArchitecture architecture) {
  if (architecture == unknown_architecture) return 0;
  for (const GenerationInfo& info : generations)
    if (info.architecture == architecture) return info.hw;
  return 0;
}

bool has_generator(HW hw) {
  const GenerationInfo* info = generation_info(hw);
  return info && info->has_generator;
}

ProductFamily generator_product_code(HW hw) {
  if (!has_generator(hw)) throw invalid_object_exception();
  return generation_info(hw)->generator_product_code;
}

bool reports_product_code(HW hw, ProductFamily code) {
  return std::any_of(reported_codes.begin(), reported_codes.end(),
                     [&](const ReportedCode& r) { return r.hw == hw && r.code == code; });
}

HW hw_of_reported_product_code(ProductFamily code) {
  for (const ReportedCode& r : reported_codes)
    if (r.code == code) return r.hw;
  return 0;
}

}  // namespace ulmara::qez::zorn
