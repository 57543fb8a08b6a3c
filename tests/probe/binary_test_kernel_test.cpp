// The binary_test program of every generation before finalisation:
// instruction counts and opcodes, the labels, the jump distances after label
// resolution, the interface, and the hand-built split send of Vemra and Sutal.
#include <gtest/gtest.h>

#include <vector>

#include "gpu/probe/binary_test_kernel.hpp"
#include "gpu/zorn/exceptions.hpp"
#include "tests/zorn/instruction_reader.hpp"

namespace zorn = ulmara::qez::zorn;
using ulmara::qez::gpu::BinaryTestKernel;

namespace {

struct Generation {
  zorn::HW hw;
  zorn::ProductFamily product;
  std::uint32_t mov, cmp, store;  // opcodes as written
};

const Generation vemra{1, 1, 1, 16, 51}, sutal{3, 3, 1, 16, 51}, dorik{4, 4, 97, 112, 49}, gulon{6, 6, 97, 112, 49},
    harix{7, 10, 97, 112, 49}, jorva{8, 13, 97, 112, 49}, lumet{9, 14, 97, 112, 49};

constexpr std::uint32_t jmpi = 0x20, send = 49, op_and = 101, op_add = 64, op_mad = 91, nop = 96;

bool has_prologue(zorn::HW hw) { return hw >= 6; }

// Prologue of the binary_test interface (three local-ID dimensions, two
// payload registers or, on Gulon, one besides the inline register).
std::vector<std::uint32_t> prologue_opcodes() {
  return {op_and, op_and, op_add, op_mad, send, op_add, send, nop, nop, nop, nop, nop, op_and, send};
}

std::vector<std::uint32_t> expected_opcodes(const Generation& g) {
  std::vector<std::uint32_t> ops;
  if (has_prologue(g.hw)) ops = prologue_opcodes();
  ops.push_back(g.mov);  // r30 = 0
  for (int check = 0; check < 9; ++check) {
    ops.push_back(g.cmp);
    ops.push_back(jmpi);
  }
  ops.push_back(g.mov);  // r64 = input pointer
  ops.push_back(send);   // load
  for (int check = 9; check < 13; ++check) {
    ops.push_back(g.cmp);
    ops.push_back(jmpi);
  }
  ops.push_back(g.mov);    // r30 = 1; the fail label follows
  ops.push_back(g.mov);    // r64 = 0 or the output pointer
  ops.push_back(g.store);  // store
  if (has_prologue(g.hw)) ops.push_back(send);  // fence
  ops.push_back(g.mov);  // r127 = r0
  ops.push_back(send);   // thread end
  return ops;
}

std::vector<std::uint32_t> opcodes_of(const std::vector<std::uint8_t>& code) {
  std::vector<std::uint32_t> ops;
  for (std::size_t i = 0; i < code.size() / 16; ++i) ops.push_back(zorn_test::instruction_at(code, i).bits(0, 7));
  return ops;
}

std::uint32_t target_of(const zorn::CodeGenerator& g, const zorn::Label& label) {
  return label.is_used() ? g.labels.target(static_cast<std::uint32_t>(label.handle)) : zorn::LabelManager::unplaced;
}

class BinaryTestProgram : public ::testing::TestWithParam<Generation> {};

TEST_P(BinaryTestProgram, InstructionsAndOpcodes) {
  const Generation g = GetParam();
  BinaryTestKernel kernel(g.hw);
  const std::size_t expected_count = has_prologue(g.hw) ? 49 : 34;
  EXPECT_EQ(kernel.root_stream().instruction_count(), expected_count);
  EXPECT_EQ(opcodes_of(kernel.root_stream().code_bytes()), expected_opcodes(g));
  EXPECT_EQ(kernel.stream_depth(), 1u);
  EXPECT_EQ(kernel.root_stream().fixups.size(), 13u);
}

TEST_P(BinaryTestProgram, GeneratorState) {
  const Generation g = GetParam();
  BinaryTestKernel kernel(g.hw);
  EXPECT_EQ(kernel.product_code, g.product);
  EXPECT_EQ(kernel.register_count, 128);
  EXPECT_EQ(kernel.interface.kernel_name, "binary_test");
  EXPECT_TRUE(kernel.interface.finalized);
  EXPECT_EQ(kernel.interface.hw, g.hw);
  EXPECT_EQ(kernel.interface.simd_width, g.hw >= 7 ? 16 : 8);
  EXPECT_EQ(kernel.interface.local_ids, 3u);
  EXPECT_TRUE(kernel.interface.local_size_needed);
  ASSERT_EQ(kernel.interface.arguments.size(), 11u);
  const char* names[] = {"src0", "src1", "src2", "src3", "src4", "src5", "src_ptr", "ok"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(kernel.interface.arguments[static_cast<std::size_t>(i)].name, names[i]);
  EXPECT_EQ(zorn::binding_table_index_of(kernel.interface, "ok"), g.hw < 7 ? 1u : zorn::no_binding_table_index);
  EXPECT_EQ(kernel.default_modifier.bits, (1ull << 45) | (1ull << 34));
}

TEST_P(BinaryTestProgram, LabelsAndJumpDistances) {
  const Generation g = GetParam();
  BinaryTestKernel kernel(g.hw);
  const std::uint32_t prologue_bytes = has_prologue(g.hw) ? 14 * 16 : 0;
  EXPECT_EQ(target_of(kernel, kernel.per_thread_skip_label),
            has_prologue(g.hw) ? 192u : zorn::LabelManager::unplaced);
  EXPECT_EQ(target_of(kernel, kernel.prologue_end_label),
            has_prologue(g.hw) ? prologue_bytes : zorn::LabelManager::unplaced);
  if (has_prologue(g.hw)) {
    EXPECT_EQ(target_of(kernel, kernel.fence_label), prologue_bytes + 32 * 16);
    EXPECT_EQ(kernel.fence_destination.bits, 0x100030000040ull);
  } else {
    EXPECT_FALSE(kernel.fence_label.is_used());
    EXPECT_TRUE(kernel.fence_destination.is_invalid());
  }

  const std::uint32_t fail = prologue_bytes + 480;
  const std::vector<std::uint8_t> code = zorn::resolve_label_fixups(kernel);
  const bool counted_from_next = g.hw < 4;
  std::vector<std::uint32_t> jumps;
  for (std::size_t i = 0; i < code.size() / 16; ++i)
    if (zorn_test::instruction_at(code, i).bits(0, 7) == jmpi) jumps.push_back(static_cast<std::uint32_t>(i));
  ASSERT_EQ(jumps.size(), 13u);
  for (std::uint32_t j : jumps) {
    const std::uint32_t from = (j + (counted_from_next ? 1 : 0)) * 16;
    EXPECT_EQ(zorn_test::instruction_at(code, j).dword(3), fail - from) << j;
  }
  // First and last jump, as worked out by hand.
  const auto first = zorn_test::instruction_at(code, jumps.front()).dword(3);
  const auto last = zorn_test::instruction_at(code, jumps.back()).dword(3);
  EXPECT_EQ(jumps.front() * 16, prologue_bytes + 32);
  EXPECT_EQ(jumps.back() * 16, prologue_bytes + 448);
  EXPECT_EQ(first, counted_from_next ? 432u : 448u);
  EXPECT_EQ(last, counted_from_next ? 16u : 32u);
}

INSTANTIATE_TEST_SUITE_P(Probe, BinaryTestProgram, ::testing::Values(vemra, sutal, dorik, gulon, harix, jorva, lumet),
                         [](const ::testing::TestParamInfo<Generation>& info) {
                           return "hw" + std::to_string(info.param.hw);
                         });

TEST(BinaryTestProgram, SplitSendOfVemraAndSutal) {
  for (zorn::HW hw : {1, 3}) {
    BinaryTestKernel kernel(hw);
    const auto store = zorn_test::instruction_at(kernel.root_stream().code_bytes(), 31);
    // ex = 0x4A (shared function 10, data length 1); M = bits 34 and 45.
    EXPECT_EQ(store.dword(0), 0x0A000033u) << hw;
    EXPECT_EQ(store.dword(1), 0x0001E014u) << hw;
    const std::uint32_t source0 = zorn::encode_source_operand(zorn::RegisterOperand::from_bits(0x100030000040ull));
    EXPECT_EQ(store.dword(2), 0x1u | (source0 & 0xDFF0u)) << hw;
    // Descriptor: binding-table index 1 in bits 0-7, message length 1, bit 31 clear.
    EXPECT_EQ(store.dword(3) & 0xFFu, 1u) << hw;
    EXPECT_EQ((store.dword(3) >> 25) & 0xFu, 1u) << hw;
    EXPECT_EQ((store.dword(3) >> 14) & 0x1Fu, 11u) << hw;
    EXPECT_EQ(store.dword(3) >> 31, 0u) << hw;
  }
}

TEST(BinaryTestProgram, VemraAndSutalHaveTheSameShape) {
  BinaryTestKernel v(1), s(3);
  const auto vc = v.root_stream().code_bytes(), sc = s.root_stream().code_bytes();
  ASSERT_EQ(vc.size(), sc.size());
  EXPECT_EQ(opcodes_of(vc), opcodes_of(sc));
  // The split send does not go through an encoder: identical on both.
  EXPECT_EQ(std::vector<std::uint8_t>(vc.begin() + 31 * 16, vc.begin() + 32 * 16),
            std::vector<std::uint8_t>(sc.begin() + 31 * 16, sc.begin() + 32 * 16));
}

TEST(BinaryTestProgram, NoProgramWithoutGenerator) {
  for (zorn::HW hw : {0, 2, 5, 10, 11}) EXPECT_THROW(BinaryTestKernel kernel(hw), zorn::invalid_object_exception) << hw;
}

TEST(BinaryTestProgram, TwoConstructionsAreIdentical) {
  for (zorn::HW hw : {1, 3, 4, 6, 7, 8, 9}) {
    BinaryTestKernel a(hw), b(hw);
    EXPECT_EQ(a.root_stream().code, b.root_stream().code) << hw;
  }
}

}  // namespace
