// The finished binary_test image of every generation, decoded instruction by
// instruction with the test-side decoder: each compare reads the argument
// slot the kernel interface assigns and holds the probe's value, each jump
// lands on the store sequence that follows "r30 = 1", and the load, store,
// fence and thread-end messages carry the descriptors that the message
// layouts give for this program (worked out by hand below).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gpu/probe/binary_test_kernel.hpp"
#include "gpu/zorn/kernel_interface.hpp"
#include "tests/probe/binary_test_image.hpp"
#include "tests/probe/instruction_decoder.hpp"

namespace zorn = ulmara::qez::zorn;
using ulmara::qez::gpu::BinaryTestKernel;
using zorn_test::DecodedInstruction;
using zorn_test::InstructionFormat;
using zorn_test::Kind;

namespace {

struct Generation {
  std::uint32_t arch;
  zorn::HW hw;
};
const Generation generations[] = {{1, 1}, {2, 3}, {3, 4}, {5, 6}, {6, 7}, {7, 8}, {8, 9}};

constexpr std::uint8_t u32 = 0xa0, u16 = 0x82;
constexpr std::uint32_t null_register = 0;  // ARF number 0, register field 0

// The values the probe passes.
constexpr std::uint32_t src0_value = 0xBEEFCAFE;
constexpr std::uint64_t src1_value = 0x3141592653589793, src4_value = 0x0123456789ABCDEF,
                        src5_value = 0xFEDCBA9876543210;
constexpr std::uint16_t src2_value = 0xBEAD, src3_value = 0xFACE;
constexpr std::uint32_t input_word = 0xABADFEED;
constexpr std::uint32_t local_size[3] = {4, 2, 1};

// A 16-bit immediate carries its value in both halves of its low 32 bits.
constexpr std::uint32_t replicated(std::uint32_t v16) { return v16 | (v16 << 16); }
constexpr std::uint32_t low_half(std::uint64_t v) { return static_cast<std::uint32_t>(v); }
constexpr std::uint32_t high_half(std::uint64_t v) { return static_cast<std::uint32_t>(v >> 32); }

// Where a compare's first source must point.
enum class Slot { argument, argument_low, argument_high, loaded_word, local_size };
struct Check {
  Slot slot;
  const char* argument;  // or the local-size dimension as "0", "1", "2"
  std::uint32_t value;
  std::uint8_t immediate_type, null_type;
};
const Check checks[13] = {
    {Slot::argument, "src0", src0_value, u32, u32},
    {Slot::argument_low, "src1", low_half(src1_value), u32, u32},
    {Slot::argument_high, "src1", high_half(src1_value), u32, u32},
    {Slot::argument, "src2", replicated(src2_value), u16, u16},
    {Slot::argument, "src3", replicated(src3_value), u16, u16},
    {Slot::argument_low, "src4", low_half(src4_value), u32, u32},
    {Slot::argument_high, "src4", high_half(src4_value), u32, u32},
    {Slot::argument_low, "src5", low_half(src5_value), u32, u32},
    {Slot::argument_high, "src5", high_half(src5_value), u32, u32},
    {Slot::loaded_word, "", input_word, u32, u32},
    {Slot::local_size, "0", replicated(local_size[0]), u16, u32},
    {Slot::local_size, "1", replicated(local_size[1]), u16, u32},
    {Slot::local_size, "2", replicated(local_size[2]), u16, u32},
};

constexpr std::uint32_t loaded_register = 31, address_register = 64, result_register = 30;

// Byte address and type of an interface location read from its operand word:
// register bits 0-8, sub-register offset bits 10-20 counted in elements of
// the type in bits 23-30.
std::uint8_t type_of(const zorn::RegisterOperand& location) { return static_cast<std::uint8_t>(location.bits >> 23); }
std::uint32_t address_of(const zorn::RegisterOperand& location, std::uint32_t grf_bytes) {
  const std::uint32_t reg = location.bits & 0x1FFu, sub = (location.bits >> 10) & 0x7FFu;
  const std::uint32_t width_code = type_of(location) >> 5;
  return reg * grf_bytes + (sub << (width_code > 3 ? width_code - 3 : 0));
}

// Message descriptors of the program. Legacy load: shared function 12,
// surface 255, control 1, type 16, response length 1, message length 2.
// Legacy store to binding-table index 1: type 11 (bit 9 set), message length
// 1, data length 1 in the extended descriptor, shared function 10. The
// 32-bit forms (flat 64-bit addresses, 32-bit elements, one channel):
// data-size index 2 (0x400), address size 3 (0x180), message length 2, and
// response length 1 for the load or bit 2 and data length 1 (extended
// descriptor 0x40) for the store, shared function 15.
struct Message {
  std::uint32_t shared_function, extended, descriptor;
};
Message load_message(zorn::HW hw) { return hw < 7 ? Message{12, 0x0C, 0x041401FF} : Message{15, 0x0F, 0x04100580}; }
Message store_message(zorn::HW hw) { return hw < 7 ? Message{10, 0x4A, 0x0202C201} : Message{15, 0x4F, 0x04000584}; }
Message fence_message(zorn::HW hw) { return {15, 0, hw == 6 ? 0x0210671Fu : 0x0210071Fu}; }
Message thread_end_message(zorn::HW hw) { return hw < 6 ? Message{7, 0x27, 0x2000010} : Message{3, 0x23, 0x2000010}; }

class DecodedBinaryTest : public ::testing::TestWithParam<Generation> {
 protected:
  void SetUp() override {
    const Generation g = GetParam();
    format = zorn_test::format_of(g.hw);
    grf = zorn_test::grf_bytes(format);
    const zorn_test::Bytes code = zorn_test::binary_test_image_code(g.arch);
    ASSERT_FALSE(code.empty());
    ASSERT_EQ(code.size() % 16, 0u);
    for (std::size_t i = 0; i < code.size() / 16; ++i)
      program.push_back(zorn_test::decode_instruction(format, zorn_test::words_at(code, i)));
    for (std::size_t i = 0; i < program.size(); ++i)
      if (kind(i) == Kind::compare) compares.push_back(i);
    ASSERT_EQ(compares.size(), 13u);
    ASSERT_GE(compares.front(), 1u);
    ASSERT_LT(compares.back() + 3, program.size());
  }

  Kind kind(std::size_t i) const { return zorn_test::kind_of(format, program[i].opcode); }
  std::uint32_t address(const zorn_test::DecodedRegister& r) const { return zorn_test::address_of(format, r); }
  std::uint32_t register_code(std::uint8_t type) const { return zorn_test::register_type_code(format, type); }

  // "r30 = 1": the move after the last check's jump; the fail label follows it.
  std::size_t set_one() const { return compares.back() + 2; }
  std::size_t fail_label() const { return set_one() + 1; }
  // The store: the send after the address move at the fail label.
  std::size_t store() const { return fail_label() + 1; }

  void expect_message(const DecodedInstruction& d, const Message& m, const char* what) const {
    EXPECT_EQ(kind_of_send(d), Kind::send) << what;
    EXPECT_EQ(d.shared_function, m.shared_function) << what;
    EXPECT_EQ(d.extended, m.extended & ~0x1Fu) << what;
    EXPECT_EQ(d.descriptor, m.descriptor) << what;
  }
  Kind kind_of_send(const DecodedInstruction& d) const { return zorn_test::kind_of(format, d.opcode); }

  std::uint32_t expected_source(const Check& c, const BinaryTestKernel& kernel) const {
    switch (c.slot) {
      case Slot::loaded_word: return loaded_register * grf;
      case Slot::local_size:
        return address_of(zorn::get_local_size_argument(kernel.interface, std::stoi(c.argument)), grf);
      case Slot::argument_high: return address_of(zorn::find_argument(kernel.interface, c.argument), grf) + 4;
      default: return address_of(zorn::find_argument(kernel.interface, c.argument), grf);
    }
  }
  std::uint8_t expected_source_type(const Check& c, const BinaryTestKernel& kernel) const {
    switch (c.slot) {
      case Slot::argument: return type_of(zorn::find_argument(kernel.interface, c.argument));
      case Slot::local_size: return type_of(zorn::get_local_size_argument(kernel.interface, std::stoi(c.argument)));
      default: return u32;  // a 64-bit argument's halves and the loaded word are read as 32-bit values
    }
  }

  InstructionFormat format{};
  std::uint32_t grf = 0;
  std::vector<DecodedInstruction> program;
  std::vector<std::size_t> compares;
};

TEST_P(DecodedBinaryTest, EveryCompareReadsItsSlotAgainstTheProbeValue) {
  const BinaryTestKernel kernel(GetParam().hw);
  for (std::size_t k = 0; k < 13; ++k) {
    const Check& c = checks[k];
    const DecodedInstruction& d = program[compares[k]];
    SCOPED_TRACE("check " + std::to_string(k + 1));
    EXPECT_EQ(d.exec_code, 0u);   // one channel
    EXPECT_EQ(d.condition, 1u);   // equal
    EXPECT_FALSE(d.dst.grf);
    EXPECT_EQ(d.dst.reg, null_register);
    EXPECT_EQ(d.dst.type_code, register_code(c.null_type));
    EXPECT_TRUE(d.src0.grf);
    EXPECT_EQ(address(d.src0), expected_source(c, kernel));
    EXPECT_EQ(d.src0.type_code, register_code(expected_source_type(c, kernel)));
    EXPECT_TRUE(d.immediate_source);
    EXPECT_EQ(d.immediate, c.value);
    EXPECT_EQ(d.immediate_type_code, zorn_test::immediate_type_code(format, c.immediate_type));
  }
}

TEST_P(DecodedBinaryTest, EveryFailedCompareJumpsOverTheResultToTheStore) {
  const bool counted_from_next = format == InstructionFormat::vemra || format == InstructionFormat::sutal;
  for (std::size_t k = 0; k < 13; ++k) {
    const std::size_t j = compares[k] + 1;
    ASSERT_EQ(kind(j), Kind::jump) << "check " << k + 1;
    const DecodedInstruction& d = program[j];
    EXPECT_EQ(d.predicate, 1u) << k + 1;
    EXPECT_EQ(d.invert, 1u) << k + 1;  // taken when the values differ
    ASSERT_EQ(d.distance % 16, 0) << k + 1;
    const auto target = static_cast<std::int64_t>(j + (counted_from_next ? 1 : 0)) + d.distance / 16;
    EXPECT_EQ(target, static_cast<std::int64_t>(fail_label())) << k + 1;
  }
  std::size_t jumps = 0;
  for (std::size_t i = 0; i < program.size(); ++i) jumps += kind(i) == Kind::jump ? 1 : 0;
  EXPECT_EQ(jumps, 13u);
}

TEST_P(DecodedBinaryTest, ResultIsZeroUntilEveryCheckPassed) {
  const std::size_t set_zero = compares.front() - 1;
  for (std::size_t i : {set_zero, set_one()}) {
    const DecodedInstruction& d = program[i];
    ASSERT_EQ(kind(i), Kind::move) << i;
    EXPECT_TRUE(d.dst.grf) << i;
    EXPECT_EQ(address(d.dst), result_register * grf) << i;
    EXPECT_EQ(d.dst.type_code, register_code(u32)) << i;
    EXPECT_TRUE(d.immediate_source) << i;
    EXPECT_EQ(d.immediate_type_code, zorn_test::immediate_type_code(format, u16)) << i;
  }
  EXPECT_EQ(program[set_zero].immediate, 0u);
  EXPECT_EQ(program[set_one()].immediate, replicated(1));
  // Nothing else writes the result register.
  for (std::size_t i = set_zero + 1; i < program.size(); ++i) {
    if (i == set_one() || kind(i) == Kind::other || kind(i) == Kind::jump) continue;
    EXPECT_FALSE(program[i].dst.grf && program[i].dst.reg == result_register) << i;
  }
}

TEST_P(DecodedBinaryTest, LoadReadsTheWordAtTheInputPointer) {
  const BinaryTestKernel kernel(GetParam().hw);
  const std::size_t move = compares[8] + 2, load = move + 1;
  ASSERT_EQ(kind(move), Kind::move);
  EXPECT_EQ(program[move].exec_code, 1u);  // two channels: the 64-bit pointer
  EXPECT_EQ(address(program[move].dst), address_register * grf);
  EXPECT_EQ(address(program[move].src0), address_of(zorn::find_argument(kernel.interface, "src_ptr"), grf));
  expect_message(program[load], load_message(GetParam().hw), "load");
  EXPECT_TRUE(program[load].dst.grf);
  EXPECT_EQ(program[load].dst.reg, loaded_register);
  EXPECT_TRUE(program[load].src0.grf);
  EXPECT_EQ(program[load].src0.reg, address_register);
  EXPECT_EQ(compares[9], load + 1);  // check 10 reads the loaded word next
}

TEST_P(DecodedBinaryTest, StoreWritesTheResultThroughTheOutputBuffer) {
  const zorn::HW hw = GetParam().hw;
  const BinaryTestKernel kernel(hw);
  const DecodedInstruction& address_move = program[fail_label()];
  ASSERT_EQ(kind(fail_label()), Kind::move);
  EXPECT_EQ(address(address_move.dst), address_register * grf);
  if (hw < 7) {  // offset 0 in the surface of binding-table index 1
    EXPECT_TRUE(address_move.immediate_source);
    EXPECT_EQ(address_move.immediate, 0u);
    EXPECT_EQ(zorn::binding_table_index_of(kernel.interface, "ok"), store_message(hw).descriptor & 0xFFu);
  } else {  // the 64-bit output pointer
    EXPECT_FALSE(address_move.immediate_source);
    EXPECT_EQ(address_move.exec_code, 1u);
    EXPECT_EQ(address(address_move.src0), address_of(zorn::find_argument(kernel.interface, "ok"), grf));
  }
  const DecodedInstruction& d = program[store()];
  expect_message(d, store_message(hw), "store");
  EXPECT_FALSE(d.dst.grf);
  EXPECT_EQ(d.dst.reg, null_register);
  EXPECT_EQ(d.src0.reg, address_register);
  EXPECT_TRUE(d.src1.grf);
  EXPECT_EQ(d.src1.reg, result_register);
}

TEST_P(DecodedBinaryTest, FenceAndThreadEndCloseTheProgram) {
  const zorn::HW hw = GetParam().hw;
  std::size_t next = store() + 1;
  if (hw >= 6) {
    const DecodedInstruction& fence = program[next++];
    expect_message(fence, fence_message(hw), "fence");
    EXPECT_EQ(fence.dst.reg, address_register);
    EXPECT_EQ(fence.src0.reg, 0u);
    EXPECT_FALSE(fence.src1.grf);
  }
  ASSERT_EQ(program.size(), next + 2);
  const DecodedInstruction& copy = program[next];
  ASSERT_EQ(kind(next), Kind::move);
  EXPECT_EQ(copy.exec_code, 3u);  // eight channels: the whole thread header
  EXPECT_EQ(copy.dst.reg, 127u);
  EXPECT_EQ(address(copy.src0), 0u);
  const DecodedInstruction& end = program[next + 1];
  expect_message(end, thread_end_message(hw), "thread end");
  EXPECT_EQ(end.src0.reg, 127u);
  EXPECT_FALSE(end.dst.grf);
}

INSTANTIATE_TEST_SUITE_P(Probe, DecodedBinaryTest, ::testing::ValuesIn(generations),
                         [](const ::testing::TestParamInfo<Generation>& info) {
                           return "arch" + std::to_string(info.param.arch);
                         });

}  // namespace
