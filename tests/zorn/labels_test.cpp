// Streams, labels, fixup records and label resolution.
#include <gtest/gtest.h>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/jumps.hpp"
#include "tests/zorn/instruction_reader.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn::CodeGenerator;
using zorn::InstructionModifier;
using zorn::Label;

namespace {

void append_filler(CodeGenerator& g, unsigned count) {
  for (unsigned i = 0; i < count; ++i) g.append_instruction(zorn::InstructionWords{0x11111111u * (i % 15 + 1), 2, 3, 4});
}

TEST(Streams, NewGeneratorState) {
  CodeGenerator g(zorn::hw::dorik);
  EXPECT_EQ(g.register_count, 128);
  EXPECT_FALSE(g.per_thread_skip_label.is_used());
  EXPECT_FALSE(g.prologue_end_label.is_used());
  EXPECT_FALSE(g.fence_label.is_used());
  EXPECT_EQ(g.fence_destination.bits, 0x8000000000000000ull);
  EXPECT_EQ(g.default_modifier.bits, 0u);
  EXPECT_EQ(g.labels.next_id, 0u);
  EXPECT_TRUE(g.labels.targets.empty());
  EXPECT_EQ(g.stream_depth(), 1u);
  EXPECT_TRUE(g.root_stream().code.empty());
  EXPECT_EQ(g.interface.kernel_name, "default_kernel");
  EXPECT_EQ(g.interface.hw, zorn::hw::dorik);
}

TEST(Streams, AppendGoesToTheTopStreamAsTwoHalves) {
  CodeGenerator g(zorn::hw::vemra);
  g.append_instruction(zorn::InstructionWords{0x03020100u, 0x07060504u, 0x0B0A0908u, 0x0F0E0D0Cu});
  ASSERT_EQ(g.root_stream().code.size(), 2u);
  EXPECT_EQ(g.root_stream().code[0], 0x0706050403020100ull);
  EXPECT_EQ(g.root_stream().code[1], 0x0F0E0D0C0B0A0908ull);
  const std::vector<std::uint8_t> bytes = g.root_stream().code_bytes();
  for (unsigned b = 0; b < 16; ++b) EXPECT_EQ(bytes[b], b);
  zorn::InstructionStream& pushed = g.push_stream();
  g.append_instruction(1, 2);
  EXPECT_EQ(pushed.code.size(), 2u);
  EXPECT_EQ(g.root_stream().code.size(), 2u);
  EXPECT_EQ(g.pop_stream()->code.size(), 2u);
  EXPECT_THROW(g.pop_stream(), zorn::invalid_object_exception);
}

TEST(Labels, IdsAreDenseInOrderOfFirstUse) {
  CodeGenerator g(zorn::hw::dorik);
  Label a, b, c;
  EXPECT_LT(a.handle, 0);
  zorn::emit_jmpi_hw4(g, InstructionModifier(1), b);  // first use: jump
  zorn::mark_label(g, c);                             // second: placement
  zorn::emit_jmpi_hw4(g, InstructionModifier(1), a);
  zorn::emit_jmpi_hw4(g, InstructionModifier(1), b);  // again: same id
  EXPECT_EQ(b.handle, 0);
  EXPECT_EQ(c.handle, 1);
  EXPECT_EQ(a.handle, 2);
  EXPECT_EQ(g.labels.next_id, 3u);
  ASSERT_EQ(g.labels.targets.size(), 3u);
  EXPECT_EQ(g.labels.targets[0], 0xFFFFFFFFu);
  EXPECT_EQ(g.labels.targets[1], 16u);
  EXPECT_EQ(zorn::label_id(b, g.labels), 0u);
}

TEST(Labels, PlacedAtTheStartHasTargetZero) {
  CodeGenerator g(zorn::hw::vemra);
  Label start;
  zorn::mark_label(g, start);
  EXPECT_EQ(g.labels.targets.at(0), 0u);
  EXPECT_EQ(g.root_stream().placed_labels, std::vector<std::uint32_t>{0});
}

TEST(Labels, PlacingTwiceThrowsWithOrWithoutJump) {
  for (bool jumped : {false, true}) {
    CodeGenerator g(zorn::hw::harix);
    Label label;
    if (jumped) zorn::emit_jmpi_hw7(g, InstructionModifier(1), label);
    zorn::mark_label(g, label);
    append_filler(g, 1);
    try {
      zorn::mark_label(g, label);
      FAIL() << "second placement accepted";
    } catch (const zorn::multiple_label_exception& e) {
      EXPECT_STREQ(e.what(), "Label already has a location");
    }
    EXPECT_EQ(g.labels.targets[0], jumped ? 16u : 0u);
    EXPECT_EQ(g.root_stream().placed_labels.size(), 1u);
  }
}

TEST(Labels, ForeignHandleIsRefused) {
  CodeGenerator g(zorn::hw::dorik);
  Label stray;
  stray.handle = 7;  // never handed out by this manager
  EXPECT_THROW(zorn::mark_label(g, stray), zorn::invalid_object_exception);
  EXPECT_THROW(zorn::emit_jmpi_hw1(g, InstructionModifier(1), stray), zorn::invalid_object_exception);
  EXPECT_THROW(zorn::emit_jmpi_hw4(g, InstructionModifier(1), stray), zorn::invalid_object_exception);
  EXPECT_TRUE(g.root_stream().code.empty());
  EXPECT_TRUE(g.root_stream().fixups.empty());
}

TEST(LabelFixups, RecordsOfEachForm) {
  struct Form {
    zorn::HW hw;
    void (*emit)(CodeGenerator&, InstructionModifier, Label&);
    std::int32_t position_after_one_filler;
    std::int32_t offset;
  };
  const Form forms[] = {
      {zorn::hw::vemra, zorn::emit_jmpi_hw1, 32, -4},
      {zorn::hw::sutal, zorn::emit_jmpi_hw3, 32, -4},
      {zorn::hw::dorik, zorn::emit_jmpi_hw4, 16, 12},
      {zorn::hw::gulon, zorn::emit_jmpi_hw4, 16, 12},
      {zorn::hw::harix, zorn::emit_jmpi_hw7, 16, 12},
  };
  for (const Form& f : forms) {
    CodeGenerator g(f.hw);
    Label label;
    append_filler(g, 1);
    f.emit(g, InstructionModifier(1), label);
    ASSERT_EQ(g.root_stream().fixups.size(), 1u);
    const zorn::LabelFixup fixup = g.root_stream().fixups[0];
    EXPECT_EQ(fixup.label, 0u);
    EXPECT_EQ(fixup.position, f.position_after_one_filler);
    EXPECT_EQ(fixup.field_offset, f.offset);
    // Both ways the field is bytes 12-15 of the jump.
    EXPECT_EQ(fixup.position + fixup.field_offset, 16 + 12);
    // Word 3 waits for resolution.
    EXPECT_EQ(g.root_stream().dword(7), 0u);
  }
}

TEST(LabelResolution, DanglingLabelThrows) {
  CodeGenerator g(zorn::hw::vemra);
  Label placed, never;
  zorn::emit_jmpi_hw1(g, InstructionModifier(1), placed);
  zorn::emit_jmpi_hw1(g, InstructionModifier(1), never);
  zorn::mark_label(g, placed);
  try {
    zorn::resolve_label_fixups(g);
    FAIL() << "dangling label accepted";
  } catch (const zorn::dangling_label_exception& e) {
    EXPECT_STREQ(e.what(), "A label was referenced, but its location was not defined");
  }
}

TEST(LabelResolution, PlacedButUnusedLabelIsHarmless) {
  CodeGenerator g(zorn::hw::dorik);
  Label unused;
  append_filler(g, 2);
  zorn::mark_label(g, unused);
  const std::vector<std::uint8_t> code = zorn::resolve_label_fixups(g);
  EXPECT_EQ(code.size(), 32u);
  EXPECT_EQ(code, g.root_stream().code_bytes());
}

TEST(LabelResolution, UnfinishedStreamThrowsBeforeAnyFixupIsWritten) {
  CodeGenerator g(zorn::hw::dorik);
  Label target;
  zorn::emit_jmpi_hw4(g, InstructionModifier(1), target);
  zorn::mark_label(g, target);
  g.push_stream();
  const std::vector<std::uint64_t> before = g.root_stream().code;
  try {
    zorn::resolve_label_fixups(g);
    FAIL() << "unfinished stream accepted";
  } catch (const zorn::unfinished_stream_exception& e) {
    EXPECT_STREQ(e.what(), "An unfinished instruction stream is still active");
  }
  EXPECT_EQ(g.root_stream().code, before);
  g.pop_stream();
  const std::vector<std::uint8_t> code = zorn::resolve_label_fixups(g);
  EXPECT_EQ(zorn_test::instruction_at(code, 0).dword(3), 16u);
}

TEST(LabelResolution, ExamplesOfTheTwoCountingRules) {
  // A forward jump skipping one instruction: 16 on Vemra, 32 on Dorik.
  {
    CodeGenerator g(zorn::hw::vemra);
    Label skip;
    zorn::emit_jmpi_hw1(g, InstructionModifier(1), skip);
    append_filler(g, 1);
    zorn::mark_label(g, skip);
    EXPECT_EQ(zorn_test::instruction_at(zorn::resolve_label_fixups(g), 0).dword(3), 16u);
  }
  {
    CodeGenerator g(zorn::hw::dorik);
    Label skip;
    zorn::emit_jmpi_hw4(g, InstructionModifier(1), skip);
    append_filler(g, 1);
    zorn::mark_label(g, skip);
    EXPECT_EQ(zorn_test::instruction_at(zorn::resolve_label_fixups(g), 0).dword(3), 32u);
  }
  // A jump back to the instruction just before it: -32 on Vemra, -16 on Dorik.
  {
    CodeGenerator g(zorn::hw::vemra);
    Label back;
    zorn::mark_label(g, back);
    append_filler(g, 1);
    zorn::emit_jmpi_hw1(g, InstructionModifier(1), back);
    EXPECT_EQ(zorn_test::instruction_at(zorn::resolve_label_fixups(g), 1).dword(3), static_cast<std::uint32_t>(-32));
  }
  {
    CodeGenerator g(zorn::hw::dorik);
    Label back;
    zorn::mark_label(g, back);
    append_filler(g, 1);
    zorn::emit_jmpi_hw4(g, InstructionModifier(1), back);
    EXPECT_EQ(zorn_test::instruction_at(zorn::resolve_label_fixups(g), 1).dword(3), static_cast<std::uint32_t>(-16));
  }
}

}  // namespace
