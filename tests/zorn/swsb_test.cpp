// Scoreboard byte (Dorik, Gulon) and ten-bit scoreboard field (Harix, Jorva,
// Lumet) against the rule tables, over every 16-bit setting.
#include <gtest/gtest.h>

#include "gpu/zorn/operands.hpp"
#include "gpu/zorn/swsb.hpp"
#include "tests/zorn/instruction_reader.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn_test::bit_of;
using zorn_test::bits_of;

namespace {

// The rules read as modifier bits M48..M63 of the 64-bit word.
struct ModifierBits {
  std::uint64_t m;
  explicit ModifierBits(std::uint16_t swsb) : m(std::uint64_t{swsb} << 48) {}
  unsigned D() const { return bits_of(m, 56, 4); }
  unsigned Q() const { return bits_of(m, 54, 2); }
  unsigned d() const { return bits_of(m, 56, 3); }
  unsigned t4() const { return bits_of(m, 48, 4); }
  unsigned t5() const { return bits_of(m, 48, 5); }
  unsigned p3() const { return bits_of(m, 60, 3); }
  unsigned p4() const { return bits_of(m, 60, 4); }
  bool M(unsigned n) const { return bit_of(m, n) != 0; }
};

unsigned expected_s8(const ModifierBits& b) {
  if (b.D() != 0 && b.Q() != 0) return 0x80 + 16 * b.d() + b.t4();
  if (b.D() != 0) {
    const unsigned c_by_p3[8] = {0, 1, 2, 3, 10, 0, 0, 0};
    return 8 * c_by_p3[b.p3()] + b.d();
  }
  if (b.Q() != 0) {
    if (b.M(55) && !b.M(54)) return b.t4() + 0x20;
    if (b.M(54) && !b.M(55)) return b.t4() + 0x30;
    return b.t4() + 0x40;
  }
  return 0;
}

unsigned expected_s10(const ModifierBits& b) {
  if (b.D() != 0 && b.Q() != 0) {
    unsigned x = 0;
    if (b.M(54) && b.M(55))
      x = b.p4() == 2 ? 0x200 : b.p4() == 3 ? 0x300 : 0x100;
    else if (b.M(54))
      x = 0x200;
    else
      x = b.p4() == 1 ? 0x300 : 0x100;
    return 32 * b.d() + b.t5() + x;
  }
  if (b.D() != 0) return b.d() + 8 * b.p4();
  if (b.Q() != 0) {
    if (b.M(55) && !b.M(54)) return b.t5() + 0x80;
    if (b.M(54) && !b.M(55)) return b.t5() + 0xA0;
    return b.t5() + 0xC0;
  }
  return b.M(53) ? 0xF0 : 0;
}

TEST(ScoreboardFields, ByteOfEverySetting) {
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    const ModifierBits b(static_cast<std::uint16_t>(v));
    ASSERT_EQ(zorn::encode_scoreboard_byte_hw4(zorn::SwsbInfo(static_cast<std::uint16_t>(v))), expected_s8(b))
        << std::hex << v;
  }
}

TEST(ScoreboardFields, TenBitFieldOfEverySetting) {
  for (unsigned v = 0; v <= 0xFFFF; ++v) {
    const ModifierBits b(static_cast<std::uint16_t>(v));
    const unsigned field = zorn::encode_scoreboard_field_hw7(zorn::SwsbInfo(static_cast<std::uint16_t>(v)));
    ASSERT_EQ(field, expected_s10(b)) << std::hex << v;
    ASSERT_LT(field, 1024u);
  }
}

TEST(ScoreboardFields, Examples) {
  // Token 2, both token modes, distance 1.
  EXPECT_EQ(zorn::encode_scoreboard_byte_hw4(zorn::InstructionModifier(0x1c2000000000000ull).swsb()), 0x92);
  // Pipe 4 (long) with distance 3.
  EXPECT_EQ(zorn::encode_scoreboard_byte_hw4(zorn::SwsbInfo(0x4300)), 0x53);
  // Token 0, dst only (the load-result wait of the test kernel).
  EXPECT_EQ(zorn::encode_scoreboard_byte_hw4(zorn::InstructionModifier(0x80000001000001ull).swsb()), 0x20);
  EXPECT_EQ(zorn::encode_scoreboard_field_hw7(zorn::InstructionModifier(0x80000001000001ull).swsb()), 0x80);
  // Synchronise-all alone.
  EXPECT_EQ(zorn::encode_scoreboard_field_hw7(zorn::SwsbInfo(0x20)), 0xF0);
  EXPECT_EQ(zorn::encode_scoreboard_byte_hw4(zorn::SwsbInfo(0x20)), 0);
}

TEST(ScoreboardFields, SettingAccessors) {
  const zorn::SwsbInfo v(0xA5D3);  // pipe 10, distance 5, dst+src, token 19
  EXPECT_EQ(v.token(), 19u);
  EXPECT_FALSE(v.sync_all());
  EXPECT_TRUE(v.src());
  EXPECT_TRUE(v.dst());
  EXPECT_EQ(v.distance(), 5u);
  EXPECT_EQ(v.pipe(), 10u);
}

}  // namespace
