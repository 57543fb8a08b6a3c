// zorn GPU generations: the generation numbers the generator dispatches on,
// the architecture numbers of the GPU runtime services, product codes and the
// register (GRF) size of each generation.
#pragma once

#include <cstdint>

namespace ulmara::qez::zorn {

// A generation number. Rules elsewhere compare it with thresholds (below 5,
// 7 or above), so the numbers are fixed.
using HW = std::int32_t;

// The product code a generator stores as its first field.
using ProductFamily = std::uint64_t;

namespace hw {
inline constexpr HW vemra = 1;
inline constexpr HW unlabelled = 2;
inline constexpr HW sutal = 3;
inline constexpr HW dorik = 4;
inline constexpr HW fenwa = 5;
inline constexpr HW gulon = 6;
inline constexpr HW harix = 7;
inline constexpr HW jorva = 8;
inline constexpr HW lumet = 9;
inline constexpr HW nopra = 10;

inline constexpr HW first = vemra;
inline constexpr HW last = nopra;
}  // namespace hw

// Architecture number of the GPU runtime services (qez_gpu_arch_t): 0 is an
// unknown device, 1 Vemra to 9 Nopra.
using GpuArchitecture = std::int32_t;
inline constexpr GpuArchitecture unknown_architecture = 0;

// Register sizes in bytes.
inline constexpr std::uint32_t grf_bytes_narrow = 32;
inline constexpr std::uint32_t grf_bytes_wide = 64;
// First generation with 64-byte registers.
inline constexpr HW first_wide_grf_hw = hw::harix;

// One row of the generation table.
struct GenerationInfo {
  HW hw;
  const char* name;
  GpuArchitecture architecture;
  bool has_generator;
  ProductFamily generator_product_code;  // meaningful only with a generator
  std::uint32_t grf_bytes;
};

// Row of a generation, or nullptr for a number that is no generation.
const GenerationInfo* generation_info(HW hw);

// Architecture number of a generation; 0 for any other value.
GpuArchitecture architecture_of(HW hw);

// Generation of an architecture number; 0 when the number is no architecture.
HW hw_of_architecture(GpuArchitecture architecture);

// True when zorn can generate code for the generation.
bool has_generator(HW hw);

// The product code a generator of this generation stores. Throws
// invalid_object_exception for a generation without a generator.
ProductFamily generator_product_code(HW hw);

// True when a device of the generation reports this product code.
bool reports_product_code(HW hw, ProductFamily code);

// Generation of a device that reports the product code; 0 when none does.
HW hw_of_reported_product_code(ProductFamily code);

// Register size: 32 bytes below Harix, 64 bytes from Harix on.
constexpr std::uint32_t grf_bytes(HW hw) {
  return hw < first_wide_grf_hw ? grf_bytes_narrow : grf_bytes_wide;
}

}  // namespace ulmara::qez::zorn
