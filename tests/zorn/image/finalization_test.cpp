// Kernel finalisation: label resolution, the scoreboard step's trigger, the
// per-thread skip offset, the metadata and the packed image, and the errors
// that stop it.
#include <gtest/gtest.h>

#include <string>

#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/jumps.hpp"
#include "gpu/zorn/kernel_finalization.hpp"
#include "gpu/zorn/qxinfo.hpp"
#include "tests/zorn/image/image_test_support.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn_test::Bytes;

namespace {

// Instruction words appended raw: dword 0 carries `first` (opcode and the
// marker bit), the other dwords a recognisable pattern.
void append_raw(zorn::CodeGenerator& g, std::uint32_t first, std::uint32_t tag) {
  g.append_instruction(zorn::InstructionWords{first, 0x11110000u | tag, 0x22220000u | tag, 0x33330000u | tag});
}

Bytes words_to_bytes(const std::vector<std::uint32_t>& words) {
  Bytes bytes;
  for (std::uint32_t w : words)
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
  return bytes;
}

std::vector<std::uint32_t> raw_words(std::uint32_t first, std::uint32_t tag) {
  return {first, 0x11110000u | tag, 0x22220000u | tag, 0x33330000u | tag};
}

std::string qxinfo_of(const zorn::CodeGenerator& g) { return zorn::write_qxinfo(g.interface); }

TEST(Finalization, VemraImageWithResolvedJump) {
  zorn::CodeGenerator g(zorn::hw::vemra);
  g.interface.kernel_name = "finalize_me";
  zorn::finalize_interface(g.interface);
  zorn::Label target;
  append_raw(g, 0x01, 1);
  zorn::emit_jmpi_hw1(g, zorn::InstructionModifier(1), target);  // at byte 16, counted from 32
  append_raw(g, 0x01, 2);
  zorn::mark_label(g, target);  // byte 48
  append_raw(g, 0x01, 3);

  const Bytes emitted = g.root_stream().code_bytes();
  const Bytes image = zorn::finalize_kernel_image(g, {std::nullopt, false, 12});

  Bytes code = emitted;
  code[16 + 12] = 16;  // distance 48 - 32
  code[16 + 13] = code[16 + 14] = code[16 + 15] = 0;
  EXPECT_EQ(image, zorn_test::expected_qxbin_image("finalize_me", qxinfo_of(g), code, 12));
}

TEST(Finalization, BackwardJumpOnDorikIsNegative) {
  zorn::CodeGenerator g(zorn::hw::dorik);
  zorn::finalize_interface(g.interface);
  zorn::Label loop;
  zorn::mark_label(g, loop);
  append_raw(g, 0x61, 1);
  zorn::emit_jmpi_hw4(g, zorn::InstructionModifier(1), loop);  // at 16, counted from itself
  const Bytes image = zorn::finalize_kernel_image(g, {zorn::ScoreboardParameters{4, 16}, false, 18});
  const auto elf = zorn_test::read_elf_image(image);
  const Bytes& code = zorn_test::section_named(elf, ".text.default_kernel").data;
  ASSERT_EQ(code.size(), 32u);
  const std::uint32_t distance = code[28] | (code[29] << 8) | (code[30] << 16) | (std::uint32_t{code[31]} << 24);
  EXPECT_EQ(static_cast<std::int32_t>(distance), -16);
  EXPECT_EQ(elf.note.descriptor, 18u);
}

TEST(Finalization, UnfinishedStreamThrows) {
  zorn::CodeGenerator g(zorn::hw::vemra);
  zorn::finalize_interface(g.interface);
  g.push_stream();
  try {
    zorn::finalize_kernel_image(g, {std::nullopt, false, 12});
    FAIL();
  } catch (const zorn::unfinished_stream_exception& e) {
    EXPECT_STREQ(e.what(), "An unfinished instruction stream is still active");
  }
}

TEST(Finalization, DanglingLabelThrows) {
  zorn::CodeGenerator g(zorn::hw::harix);
  zorn::finalize_interface(g.interface);
  zorn::Label nowhere;
  zorn::emit_jmpi_hw7(g, zorn::InstructionModifier(1), nowhere);
  try {
    zorn::finalize_kernel_image(g, {zorn::ScoreboardParameters{7, 32}, true, 0x0C08});
    FAIL();
  } catch (const zorn::dangling_label_exception& e) {
    EXPECT_STREQ(e.what(), "A label was referenced, but its location was not defined");
  }
}

TEST(Finalization, InterfaceMustBeFinalised) {
  zorn::CodeGenerator g(zorn::hw::sutal);
  append_raw(g, 0x01, 1);
  EXPECT_THROW(zorn::finalize_kernel_image(g, {std::nullopt, false, 16}), zorn::interface_not_finalized);
}

TEST(Finalization, NulInKernelNameGivesNoImage) {
  zorn::CodeGenerator g(zorn::hw::sutal);
  g.interface.kernel_name = std::string("a\0b", 3);
  zorn::finalize_interface(g.interface);
  EXPECT_ANY_THROW(zorn::finalize_kernel_image(g, {std::nullopt, false, 16}));
}

// A Gulon generator with the skip label placed after 12 instructions.
void place_skip_label_at_192(zorn::CodeGenerator& g) {
  for (std::uint32_t i = 0; i < 12; ++i) append_raw(g, 96, i);
  zorn::mark_label(g, g.per_thread_skip_label);
  append_raw(g, 0x61, 12);
}

TEST(Finalization, PerThreadSkipOffsetFromLabel) {
  zorn::CodeGenerator g(zorn::hw::gulon);
  zorn::finalize_interface(g.interface);
  place_skip_label_at_192(g);
  const Bytes image = zorn::finalize_kernel_image(g, {zorn::ScoreboardParameters{6, 16}, true, 0x0C07});
  EXPECT_EQ(g.interface.per_thread_data_skip_offset, 192);
  const auto elf = zorn_test::read_elf_image(image);
  const auto& section = zorn_test::section_named(elf, ".qx_info").data;
  const std::string text(section.begin(), section.end());
  EXPECT_NE(text.find("      offset_to_skip_per_thread_data_load: 192\n"), std::string::npos) << text;
  EXPECT_EQ(zorn_test::parse_yaml(text)["kernels"].items[0]["execution_env"]["offset_to_skip_per_thread_data_load"]
                .scalar,
            "192");
}

TEST(Finalization, SkipOffsetStepOffLeavesOffset) {
  zorn::CodeGenerator g(zorn::hw::gulon);
  zorn::finalize_interface(g.interface);
  place_skip_label_at_192(g);
  const Bytes image = zorn::finalize_kernel_image(g, {zorn::ScoreboardParameters{6, 16}, false, 0x0C07});
  EXPECT_EQ(g.interface.per_thread_data_skip_offset, 0);
  const std::string text = zorn::write_qxinfo(g.interface);
  EXPECT_EQ(text.find("offset_to_skip"), std::string::npos);
}

TEST(Finalization, UnplacedSkipLabelLeavesOffset) {
  zorn::CodeGenerator g(zorn::hw::lumet);
  zorn::finalize_interface(g.interface);
  g.interface.per_thread_data_skip_offset = 7;
  zorn::label_id(g.per_thread_skip_label, g.labels);  // used, never placed
  append_raw(g, 0x61, 0);
  zorn::finalize_kernel_image(g, {zorn::ScoreboardParameters{9, 32}, true, 0x1E00});
  EXPECT_EQ(g.interface.per_thread_data_skip_offset, 7);
}

TEST(Finalization, UnmarkedDorikCodeIsPackedAsEmitted) {
  zorn::CodeGenerator g(zorn::hw::dorik);
  zorn::finalize_interface(g.interface);
  append_raw(g, 0x61, 1);
  append_raw(g, 127, 2);  // a directive stays when nothing asks for the analysis
  append_raw(g, 0x31, 3);
  const Bytes image = zorn::finalize_kernel_image(g, {zorn::ScoreboardParameters{4, 16}, false, 18});
  std::vector<std::uint32_t> words = raw_words(0x61, 1);
  for (std::uint32_t w : raw_words(127, 2)) words.push_back(w);
  for (std::uint32_t w : raw_words(0x31, 3)) words.push_back(w);
  EXPECT_EQ(image, zorn_test::expected_qxbin_image("default_kernel", qxinfo_of(g), words_to_bytes(words), 18));
}

TEST(ScoreboardStep, MarkerIsBit7OfEveryInstructionsFirstByte) {
  Bytes code = words_to_bytes(raw_words(0x61, 1));
  EXPECT_FALSE(zorn::has_scoreboard_markers(code));
  code[5] = 0x80;  // not a first byte
  EXPECT_FALSE(zorn::has_scoreboard_markers(code));
  const Bytes second = words_to_bytes(raw_words(0xE1, 2));
  code.insert(code.end(), second.begin(), second.end());
  EXPECT_TRUE(zorn::has_scoreboard_markers(code));
  EXPECT_FALSE(zorn::has_scoreboard_markers(Bytes{}));
}

}  // namespace
