// The "binary_test" kernel: the small program with which the binary-kernel
// probe checks that the driver runs zorn's machine code. It compares six
// scalar arguments, the first word of an input buffer and the three local
// work-group sizes with the values the probe passes, and writes 1 into the
// output buffer when all thirteen checks hold, 0 otherwise.
#pragma once

#include <cstdint>

#include "gpu/zorn/code_generator.hpp"

namespace ulmara::qez::gpu {

// Name of the kernel and of its arguments, in declaration order.
inline constexpr char binary_test_kernel_name[] = "binary_test";
inline constexpr const char* binary_test_scalar_names[6] = {"src0", "src1", "src2", "src3", "src4", "src5"};
inline constexpr char binary_test_input_name[] = "src_ptr";
inline constexpr char binary_test_output_name[] = "ok";

// The values the probe passes and the kernel expects.
inline constexpr std::uint32_t binary_test_src0 = 0xBEEFCAFEu;
inline constexpr std::uint64_t binary_test_src1 = 0x3141592653589793ull;
inline constexpr std::uint16_t binary_test_src2 = 0xBEAD;
inline constexpr std::uint16_t binary_test_src3 = 0xFACE;
inline constexpr std::uint64_t binary_test_src4 = 0x0123456789ABCDEFull;
inline constexpr std::uint64_t binary_test_src5 = 0xFEDCBA9876543210ull;
inline constexpr std::uint32_t binary_test_input_word = 0xABADFEEDu;
inline constexpr std::uint32_t binary_test_local_size[3] = {4, 2, 1};
// The 32-bit word the kernel stores into the output buffer.
inline constexpr std::uint16_t binary_test_passed = 1;
inline constexpr std::uint16_t binary_test_failed = 0;

// A zorn generator whose constructor writes the whole "binary_test" program
// of generation `hw` (Vemra, Sutal, Dorik, Gulon, Harix, Jorva or Lumet):
// arguments and interface, the prologue from Gulon on, every instruction,
// with the fail label and, from Gulon on, the fence label placed. It adds no
// state to the generator. Any zorn error propagates; a generation without a
// generator throws invalid_object_exception.
class BinaryTestKernel : public zorn::CodeGenerator {
 public:
  explicit BinaryTestKernel(zorn::HW hw);
};

}  // namespace ulmara::qez::gpu
