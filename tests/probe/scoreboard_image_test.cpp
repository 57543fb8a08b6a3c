// The finished images of the generations with a software scoreboard: the
// binary_test code after the analysis and the rewrite, read back from the
// ELF image with the test-side field reader. The expected fields follow from
// the analysis rules applied by hand to the kernel:
//   - explicit settings (load, store, thread end: token set with distance 1)
//     are kept byte for byte;
//   - check 10 waits for the load's destination (its token 0);
//   - in the prologue each add or mad that reads r127 right after it was
//     written waits one or two integer instructions back (own pipe, so no
//     pipe named); each load gets a token and, as a send, a distance 1 on all
//     pipes (Gulon) or on the integer pipe it waits for (Harix on); the
//     instruction that then overwrites the load's source r127 waits for the
//     load's source reads, except on Harix, whose write-after-read rule
//     turns that wait into a destination wait;
//   - tokens: Gulon 15 then 14 (highest free; the register-derived token 0
//     is still held), Harix and Lumet 31 then 1 (r4 / 4), Jorva 15 then 14;
//   - the fence keeps its explicit token 2.
// Nothing needs a sync: every jump carries bit 46 and no ARF destination of
// the kinds that force one appears, so the code keeps its length and every
// jump its distance.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "gpu/probe/binary_test_kernel.hpp"
#include "gpu/zorn/code_generator.hpp"
#include "tests/probe/binary_test_image.hpp"

namespace zorn = ulmara::qez::zorn;
namespace gpu = ulmara::qez::gpu;
using zorn_test::Bytes;

namespace {

struct Expected {
  std::uint32_t arch;
  zorn::HW hw;
  std::size_t instructions;
  std::size_t fail_label;  // instruction index
  std::map<std::size_t, std::uint32_t> fields;  // non-zero scoreboard fields
};

const Expected expected[] = {
    {3, 4, 34, 30, {{20, 0x90}, {21, 0x20}, {31, 0x92}, {33, 0x92}}},
    {5, 6, 49, 44, {{2, 0x02}, {3, 0x01}, {4, 0x90}, {5, 0x30}, {6, 0x9F}, {12, 0x3F}, {13, 0x9E}, {15, 0x2E},
                    {34, 0x90}, {35, 0x20}, {45, 0x92}, {46, 0x42}, {48, 0x92}}},
    {6, 7, 49, 44, {{2, 0x002}, {3, 0x001}, {4, 0x320}, {5, 0x080}, {6, 0x33F}, {12, 0x0BF}, {13, 0x321}, {15, 0x081},
                    {34, 0x120}, {35, 0x080}, {45, 0x122}, {46, 0x0C2}, {48, 0x122}}},
    {7, 8, 49, 44, {{2, 0x002}, {3, 0x001}, {4, 0x320}, {5, 0x0A0}, {6, 0x32F}, {12, 0x0AF}, {13, 0x32E}, {15, 0x08E},
                    {34, 0x120}, {35, 0x080}, {45, 0x122}, {46, 0x0C2}, {48, 0x122}}},
    {8, 9, 49, 44, {{2, 0x002}, {3, 0x001}, {4, 0x320}, {5, 0x0A0}, {6, 0x33F}, {12, 0x0BF}, {13, 0x321}, {15, 0x081},
                    {34, 0x120}, {35, 0x080}, {45, 0x122}, {46, 0x0C2}, {48, 0x122}}},
};

using zorn_test::words_at;

class ScoreboardImage : public ::testing::TestWithParam<Expected> {};

TEST_P(ScoreboardImage, FieldsMarkersAndLength) {
  const Expected& e = GetParam();
  const Bytes code = zorn_test::binary_test_image_code(e.arch);
  ASSERT_EQ(code.size(), e.instructions * 16);
  const bool wide = e.hw >= 7;
  for (std::size_t i = 0; i < e.instructions; ++i) {
    zorn_test::Reader read(words_at(code, i));
    EXPECT_NE(read.at(0, 6), 127u) << i;  // no directive reaches the image
    EXPECT_EQ(read.at(7, 7), 0u) << "marker left at " << i;
    const std::uint32_t field = wide ? read.at(8, 17) : read.at(8, 15);
    const auto it = e.fields.find(i);
    EXPECT_EQ(field, it == e.fields.end() ? 0u : it->second) << "instruction " << i;
  }
}

TEST_P(ScoreboardImage, EverythingButTheScoreboardBitsAsEmitted) {
  const Expected& e = GetParam();
  const Bytes code = zorn_test::binary_test_image_code(e.arch);
  gpu::BinaryTestKernel kernel(e.hw);
  const Bytes emitted = zorn::resolve_label_fixups(kernel);
  ASSERT_EQ(code.size(), emitted.size());
  const std::uint32_t scoreboard_bits = e.hw >= 7 ? 0x3FF80u : 0xFF80u;
  for (std::size_t i = 0; i < e.instructions; ++i) {
    const zorn_test::Words got = words_at(code, i), was = words_at(emitted, i);
    EXPECT_EQ(got[0] & ~scoreboard_bits, was[0] & ~scoreboard_bits) << i;
    EXPECT_EQ(got[1], was[1]) << i;
    EXPECT_EQ(got[2], was[2]) << i;
    EXPECT_EQ(got[3], was[3]) << i;
  }
}

TEST_P(ScoreboardImage, JumpsLandOnTheFailLabel) {
  const Expected& e = GetParam();
  const Bytes code = zorn_test::binary_test_image_code(e.arch);
  int jumps = 0;
  for (std::size_t i = 0; i < e.instructions; ++i) {
    zorn_test::Reader read(words_at(code, i));
    if (read.at(0, 6) != 0x20) continue;
    ++jumps;
    const auto distance = static_cast<std::int32_t>(read(3, 0, 31));  // counted from the jump itself
    EXPECT_EQ(static_cast<std::int64_t>(i) + distance / 16, static_cast<std::int64_t>(e.fail_label)) << i;
  }
  EXPECT_EQ(jumps, 13);
}

INSTANTIATE_TEST_SUITE_P(Probe, ScoreboardImage, ::testing::ValuesIn(expected),
                         [](const ::testing::TestParamInfo<Expected>& info) {
                           return "arch" + std::to_string(info.param.arch);
                         });

}  // namespace
