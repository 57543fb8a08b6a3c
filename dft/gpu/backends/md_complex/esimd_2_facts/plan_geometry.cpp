#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_geometry.hpp"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>

namespace ulmara::qez::dft::esimd_2_facts {

namespace {
bool one_of(std::int64_t n, std::initializer_list<std::int64_t> values) {
  return std::find(values.begin(), values.end(), n) != values.end();
}
std::uint64_t product(std::uint64_t rank, const std::int64_t* lengths) {
  std::uint64_t p = 1;
  for (std::uint64_t d = 0; d < rank; ++d) p *= static_cast<std::uint64_t>(lengths[d]);
  return p;
}
}  // namespace

bool esimd_lengths_excluded(std::uint64_t rank, const std::int64_t* lengths) {
  if (rank < 2 || !is_power_of_two(lengths[0])) return false;
  for (std::uint64_t d = 1; d < rank; ++d)
    if (one_of(lengths[d], {200, 225, 250, 288, 300, 320, 384})) return true;
  return rank == 3 && one_of(lengths[2], {576, 640, 768, 1600});
}

bool size_rules_accept_double(std::uint64_t rank, const std::int64_t* lengths) {
  if (rank < 2 || rank > 3) return false;
  for (std::uint64_t d = 0; d < rank; ++d)
    if (lengths[d] > 1024) return false;
  const std::int64_t n0 = lengths[0], n1 = lengths[1];
  if (!is_power_of_two(n0) || !(n1 <= 512 || n1 == 1024)) return false;
  if (rank == 2) return true;
  const std::int64_t n2 = lengths[2];
  if (!is_power_of_two(n1)) return false;
  if (is_power_of_two(n2)) return true;
  const std::uint64_t bytes = product(rank, lengths) * 16;
  const bool roomy = one_of(n2, {72, 80, 81, 100, 108, 120, 144, 160, 192, 400, 800});
  return bytes <= (roomy ? 0x18000000ull : 0xC000000ull);
}

bool size_rules_accept_single(std::uint64_t rank, const std::int64_t* lengths) {
  if (rank < 2 || rank > 3) return false;
  const std::int64_t n0 = lengths[0], n1 = lengths[1];
  if (rank == 2) return is_power_of_two(n0) && n0 <= 4095 && !one_of(n1, {400, 576, 640, 768, 1600});
  const std::int64_t n2 = lengths[2];
  if (!is_power_of_two(n0) || !is_power_of_two(n1) || n2 > 4095) return false;
  std::uint64_t limit = 0xC000000ull;
  if (n2 == 2048) limit = 0x60000000ull;
  else if (one_of(n2, {64, 72, 80, 81, 100, 108, 120, 128, 144, 256, 400, 512, 800, 1024})) limit = 0x14400000ull;
  return product(rank, lengths) * 8 <= limit;
}

bool choose_factor_pair(std::int64_t n, factor_pair* out) {
  static const std::uint32_t descending[] = {64, 32, 25, 16, 12, 10, 9, 8};
  static const std::uint32_t ascending[] = {8, 9, 10, 12, 16, 25, 32, 64};
  bool found = false;
  std::int64_t best = 0;
  for (std::uint32_t f0 : descending)
    for (std::uint32_t f1 : ascending) {
      if (static_cast<std::int64_t>(f0) * f1 != n) continue;
      const std::int64_t cost = std::llabs(static_cast<std::int64_t>(f0) * f0 - static_cast<std::int64_t>(f1) * f1);
      if (!found || cost < best) {
        found = true;
        best = cost;
        *out = factor_pair{f0, f1};
      }
    }
  return found;
}

std::uint64_t batch_multiplier_for(std::uint64_t rank, const std::int64_t* lengths, std::uint64_t elem) {
  const std::uint64_t bytes = product(rank, lengths) * elem;
  const std::uint64_t q = bytes > chunk_budget_bytes ? 0 : chunk_budget_bytes / bytes;
  return std::max<std::uint64_t>(1, q >> 1);
}

std::uint64_t lines_per_chunk(std::uint64_t rank, const std::int64_t* lengths, std::uint64_t pass,
                              std::uint64_t m) {
  std::uint64_t lines = m;
  for (std::uint64_t d = 0; d < rank; ++d)
    if (d != pass) lines *= static_cast<std::uint64_t>(lengths[d]);
  return lines;
}

namespace {
// Reals that round 2 x fact up to a multiple of the vector length.
std::uint32_t padding_of(std::uint32_t fact) {
  const std::uint32_t reals = 2 * fact % vector_reals;
  return reals == 0 ? 0 : vector_reals - reals;
}
}  // namespace

bool plan_pass(const plan_shape& s, std::uint64_t pass, pass_geometry* out) {
  const std::int64_t n = s.lengths[pass];
  factor_pair pair{};
  if (!choose_factor_pair(n, &pair)) return false;
  pass_geometry g{};
  const std::uint64_t n0 = static_cast<std::uint64_t>(s.lengths[0]);
  const std::uint64_t n1 = s.rank > 1 ? static_cast<std::uint64_t>(s.lengths[1]) : 1;
  const std::uint64_t n2 = s.rank > 2 ? static_cast<std::uint64_t>(s.lengths[2]) : 1;
  g.fact0 = pair.fact0;
  g.fact1 = pair.fact1;
  g.column_batch = pass >= 1 && (is_power_of_two(s.lengths[0]) || n0 == 72) &&
                   static_cast<std::uint64_t>(n) * s.elem * lanes <= s.local_mem_bytes;
  g.ncol = g.column_batch ? static_cast<std::uint32_t>(lanes) : 1;
  g.pad0 = padding_of(g.fact0);
  g.pad1 = padding_of(g.fact1);
  g.padded_fact1 = g.fact1 + g.pad1 / 2;
  g.groups_before = g.column_batch ? g.fact1 : static_cast<std::uint32_t>(ceil_div(g.fact1, lanes));
  g.groups_after = g.column_batch ? g.fact0 : static_cast<std::uint32_t>(ceil_div(g.fact0, lanes));
  g.loop_bound = g.groups_after % g.groups_before != 0 ? 1 : g.groups_after / g.groups_before;
  g.local_size = g.groups_before + g.groups_after % g.groups_before;
  g.work_groups = lines_per_chunk(s.rank, s.lengths, pass, s.batch_multiplier);
  if (g.column_batch) {
    g.work_groups = ceil_div(n0, lanes) * s.batch_multiplier;
    if (s.rank == 3 && pass == 1) g.work_groups *= n2;
    if (pass == 2) g.work_groups *= n1;
  }
  g.global_size = g.work_groups * g.local_size;
  g.slm_bytes = g.column_batch ? static_cast<std::uint64_t>(n) * s.elem * lanes
                               : static_cast<std::uint64_t>(g.fact0) * g.padded_fact1 * s.elem;
  g.element_stride = pass == 0 ? 1 : pass == 1 ? n0 : n0 * n1;
  if (pass == 0) {
    g.fwd_dist = g.bwd_dist = n0;
  } else if (pass == 1 && s.rank == 3) {
    g.fwd_dist = g.bwd_dist = n0 * n1;
  } else {
    g.fwd_dist = s.forward_distance;
    g.bwd_dist = s.backward_distance;
  }
  g.batches_x = pass == 0 ? 1 : static_cast<std::uint32_t>(g.column_batch ? ceil_div(n0, lanes) : n0);
  g.batches_y = pass == 2 ? static_cast<std::uint32_t>(n1) : 1;
  g.dist_to_next_simd_group =
      pass == 0 ? static_cast<std::uint32_t>(vector_reals)
                : static_cast<std::uint32_t>((g.column_batch ? 2 : vector_reals) * g.element_stride);
  g.table_bytes = s.elem * g.fact0 * (g.column_batch ? lanes * g.fact1 : g.padded_fact1);
  *out = g;
  return true;
}

std::string describe_pass(const pass_geometry& g) {
  return std::to_string(g.fact0) + "x" + std::to_string(g.fact1) + (g.column_batch ? " col-batch" : " row") +
         " local " + std::to_string(g.local_size) + " groups " + std::to_string(g.work_groups) + " slm " +
         std::to_string(g.slm_bytes);
}

}  // namespace ulmara::qez::dft::esimd_2_facts
