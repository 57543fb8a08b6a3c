// The build-option writer: pieces while they fit, and the two policies for a
// piece that does not.
#include "dft/gpu/core/option_text.hpp"

#include <gtest/gtest.h>

namespace {

using ulmara::qez::dft::option_overflow;
using ulmara::qez::dft::option_text;

TEST(option_text, joins_pieces_that_fit) {
  option_text o(64, option_overflow::keep_prefix);
  o.add("-DA=%d ", 1);
  o.add("-DB=%s ", "x");
  EXPECT_EQ(o.str(), "-DA=1 -DB=x ");
  EXPECT_FALSE(o.overflowed());
}

// Into a 10-byte text: a piece that fits, one that runs past the capacity
// and one after the overflow.
void add_past_ten_bytes(option_text& o) {
  o.add("-DA=%d ", 1);
  o.add("-DLONG=%d ", 123);
  o.add("%s", "z");
}

TEST(option_text, keep_prefix_cuts_at_the_capacity_and_drops_later_pieces) {
  option_text o(10, option_overflow::keep_prefix);
  add_past_ten_bytes(o);
  EXPECT_EQ(o.str(), "-DA=1 -DL");  // nine characters and the NUL
  EXPECT_TRUE(o.overflowed());
}

TEST(option_text, empty_text_hands_on_nothing_after_an_overflow) {
  option_text o(10, option_overflow::empty_text);
  add_past_ten_bytes(o);
  EXPECT_EQ(o.str(), "");
  EXPECT_TRUE(o.overflowed());
}

TEST(option_text, a_piece_that_fills_the_last_byte_overflows) {
  option_text o(4, option_overflow::keep_prefix);
  o.add("%s", "abcd");
  EXPECT_EQ(o.str(), "abc");
  EXPECT_TRUE(o.overflowed());
}

}  // namespace
