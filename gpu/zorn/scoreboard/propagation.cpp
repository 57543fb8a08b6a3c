// Forward data-flow of outstanding dependencies between blocks, and the pass
// driver.
#include "gpu/zorn/scoreboard/propagation.hpp"

#include <stdexcept>

#include "gpu/zorn/scoreboard/analysis.hpp"

namespace ulmara::qez::zorn {
namespace {

[[noreturn]] void propagation_failed() { throw std::runtime_error("zorn internal error: propagation failed."); }

// The record moved to the start of the block after `from`.
Dependency rebased(const Dependency& r, const BasicBlock& from) {
  Dependency t = r;
  if (t.latency_estimate == 0)
    for (std::size_t k = 0; k < in_order_pipe_indexes; ++k) t.counters[k] -= static_cast<std::int32_t>(from.pipe_counts[k]);
  t.counters[all_instructions_counter] -= static_cast<std::int32_t>(from.pipe_counts[all_instructions_counter]);
  return t;
}

bool aged_out(const Dependency& t) {
  if (!t.in_order()) return false;
  const std::uint32_t k = pipe_index(t.pipe);
  const std::int32_t threshold = is_single_bit(t.pipe & 0xFFu) && k < in_order_pipe_indexes
                                     ? pipe_depth_thresholds[k]
                                     : -0x7FFFFFFF;
  return t.counters[k] <= threshold;
}

// Live entries of the successor's resolved table that the record conflicts
// with, walked through the token, pipe and register lists.
std::vector<Dependency> resolving_entries(DependencyTable& resolved, const Dependency& t) {
  std::vector<Dependency> found;
  auto collect = [&](ListKind kind, std::uint32_t bucket) {
    for_each_in_list(resolved, kind, bucket, [&](std::uint32_t e) {
      if (dependencies_conflict(t, resolved.records[e])) found.push_back(resolved.records[e]);
      return true;
    });
  };
  if (t.has_token_bits() && t.token != no_token) collect(token_list, t.token);
  if (t.in_order()) {
    const std::uint32_t p = t.pipe & 0xFFu;
    if (p & 1u) {
      for (std::uint32_t k = 0; k < counter_count; ++k) collect(pipe_list, k);
    } else {
      collect(pipe_list, log2_floor(p));
      collect(pipe_list, 0);
    }
  }
  if (!t.region.is_empty()) {
    const bool whole = t.region.is_whole_file();
    const std::uint32_t first = whole ? 0 : t.region.first_register;
    const std::uint32_t end = whole ? whole_file_bucket : first + t.region.register_count;
    for (std::uint32_t r = first; r < end && r < whole_file_bucket; ++r) collect(register_list, r);
    collect(register_list, whole_file_bucket);
  }
  return found;
}

// Trims the record by the resolving entries; false when nothing is left.
bool survives(Dependency& t, const std::vector<Dependency>& entries) {
  for (const Dependency& e : entries) {
    if (e.region.is_arf() != t.region.is_arf() || t.region.is_whole_file()) continue;
    if (e.region.is_whole_file()) return false;
    subtract_masks(t.region, e.region);
    if (t.region.is_empty()) return false;
  }
  return true;
}

bool push_record(BasicBlock& to, const BasicBlock& from, const Dependency& r, std::uint32_t it) {
  Dependency t = rebased(r, from);
  if (aged_out(t)) return false;
  if (!survives(t, resolving_entries(to.resolved, t))) return false;
  if (&to == &from) return false;
  t.iteration_stamp = it + 1;
  return dependency_table_insert_live(to.out, t, true, true);
}

bool iterate(BlockList& blocks, std::uint32_t it) {
  bool changed = false;
  for (BasicBlock& b : blocks) {
    for (BasicBlock* p : b.predecessors) {
      if (p->iteration_stamp < it) continue;
      // Insertion into b may grow p's table when p is b; walk a snapshot.
      const std::size_t count = p->out.records.size();
      for (std::size_t k = 0; k < count; ++k) {
        const Dependency r = p->out.records[k];
        if (!r.is_live() || r.iteration_stamp != it) continue;
        if (push_record(b, *p, r, it)) {
          b.iteration_stamp = it + 1;
          changed = true;
        }
      }
    }
  }
  return changed;
}

void collect_in_sets(BlockList& blocks) {
  for (BasicBlock& b : blocks)
    for (BasicBlock* p : b.predecessors)
      for (const Dependency& r : p->out.records) {
        if (!r.is_live()) continue;
        const Dependency t = rebased(r, *p);
        if (!aged_out(t)) dependency_table_insert_live(b.in, t, true, true);
      }
}

}  // namespace

void propagate_dependencies(BlockList& blocks) {
  for (BasicBlock& b : blocks) {
    b.iteration_stamp = 0;
    for (Dependency& r : b.out.records)
      if (r.is_live()) r.iteration_stamp = 0;
  }
  const std::size_t n = blocks.size();
  if (n == 0) propagation_failed();
  for (std::uint32_t it = 0;; ++it) {
    const bool changed = iterate(blocks, it);
    if (!changed) break;
    if (it + 1 >= n) propagation_failed();
  }
  collect_in_sets(blocks);
}

// ---------------------------------------------------------------------------
// The pass driver.

namespace {

void run_pass(Program& program, BlockList& blocks, const AnalysisSetting& setting, AnalysisPass pass) {
  for (BasicBlock& b : blocks) {
    swsb_analysis(setting.hw, setting.tokens, program, b, pass);
    if (pass == AnalysisPass::one) b.in.clear();
  }
}

}  // namespace

BlockList run_scoreboard_passes(Program& program, const AnalysisSetting& setting) {
  BlockList blocks = build_basic_blocks(program, setting.hw);
  decode_block_operands(blocks, program, setting.hw);
  run_pass(program, blocks, setting, AnalysisPass::zero);
  propagate_dependencies(blocks);
  for (BasicBlock& b : blocks) {
    b.out.clear();
    b.resolved.clear();
  }
  run_pass(program, blocks, setting, AnalysisPass::one);
  propagate_dependencies(blocks);
  for (BasicBlock& b : blocks) {
    std::swap(b.out, b.in);
    b.in.clear();
  }
  run_pass(program, blocks, setting, AnalysisPass::two);
  return blocks;
}

}  // namespace ulmara::qez::zorn
