// Finalisation with the analysis: the per-thread skip offset follows the
// instructions that the rewrite inserts in front of its label.
#include <gtest/gtest.h>

#include "gpu/zorn/kernel_finalization.hpp"
#include "tests/zorn/scoreboard/program_builder.hpp"

namespace zorn = ulmara::qez::zorn;
using namespace sb_test;

namespace {

void append(zorn::CodeGenerator& g, const Words& w) { g.append_instruction(w); }

TEST(ScoreboardFinalization, SkipOffsetMovesWithAnInsertedSync) {
  zorn::CodeGenerator g(zorn::hw::gulon);
  zorn::finalize_interface(g.interface);
  // 0 load (token 1), 1 jump with bit 46 clear: the flush puts a sync in
  // front of the jump; the label after it moves by one instruction.
  append(g, send(20, 1, 2, 1, 12, 0x41));
  append(g, jump(1, true, false, true));
  zorn::mark_label(g, g.per_thread_skip_label);
  append(g, mov(3, 4));
  append(g, thread_end());
  zorn::finalize_kernel_image(g, {zorn::ScoreboardParameters{6, 16}, true, 0x0C07});
  EXPECT_EQ(g.interface.per_thread_data_skip_offset, 48);  // 32 as emitted
}

TEST(ScoreboardFinalization, SkipOffsetUnchangedWithoutInsertions) {
  zorn::CodeGenerator g(zorn::hw::harix);
  zorn::finalize_interface(g.interface);
  append(g, mov(3, 4));
  zorn::mark_label(g, g.per_thread_skip_label);
  append(g, mov(5, 3));
  append(g, thread_end());
  zorn::finalize_kernel_image(g, {zorn::ScoreboardParameters{7, 32}, true, 0x0C08});
  EXPECT_EQ(g.interface.per_thread_data_skip_offset, 16);
}

}  // namespace
