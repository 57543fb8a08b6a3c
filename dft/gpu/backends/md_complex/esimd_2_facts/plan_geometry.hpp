// Pure planning of the ESIMD two-factor engine: which sizes it takes, the
// factor pair of each pass, the launch layout and the per-pass geometry that
// the kernels receive as specialization constants. No device is touched.
#pragma once

#include <cstdint>
#include <string>

#include "dft/gpu/core/ceil_div.hpp"

namespace ulmara::qez::dft::esimd_2_facts {

inline bool is_power_of_two(std::int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

// Reals of one vector (VL), its complex lanes, and the columns of a column batch.
constexpr std::uint32_t vector_reals = 16;
constexpr std::uint64_t lanes = vector_reals / 2;
// Data budget of one launch before halving: 190 MiB.
constexpr std::uint64_t chunk_budget_bytes = 0xBE00000;

// Bytes the workspace holds beyond its table slices. A parent plan that
// shares one workspace hands this engine its part at any byte offset; the
// first slice starts at the next multiple of the scalar, up to scalar - 1
// bytes further on. One whole scalar keeps the size a multiple of it, as
// the buffer form's view of the workspace as scalars needs.
constexpr std::uint64_t workspace_offset_slack(std::uint64_t scalar_bytes) { return scalar_bytes; }

// Lengths whose plans are known to lose to the other strategies.
bool esimd_lengths_excluded(std::uint64_t rank, const std::int64_t* lengths);

// Size rules of one precision (elem = complex element bytes, 8 or 16).
bool size_rules_accept_double(std::uint64_t rank, const std::int64_t* lengths);
bool size_rules_accept_single(std::uint64_t rank, const std::int64_t* lengths);

// Two factors from {8, 9, 10, 12, 16, 25, 32, 64} whose product is n, the
// most nearly square pair, fact0 >= fact1; false when there is none.
struct factor_pair {
  std::uint32_t fact0;
  std::uint32_t fact1;
};
bool choose_factor_pair(std::int64_t n, factor_pair* out);

// Transforms per launch: max(1, floor(budget / (P x elem)) / 2).
std::uint64_t batch_multiplier_for(std::uint64_t rank, const std::int64_t* lengths, std::uint64_t elem);

// Work-groups of one chunk of pass d before the column-batch adjustment:
// the number of lines along dimension d in m transforms.
std::uint64_t lines_per_chunk(std::uint64_t rank, const std::int64_t* lengths, std::uint64_t pass,
                              std::uint64_t m);

// Everything a pass's launches and kernels need.
struct pass_geometry {
  std::uint32_t fact0, fact1;
  bool column_batch;
  std::uint32_t pad0, pad1;  // in reals
  std::uint32_t padded_fact1;
  std::uint32_t groups_before, groups_after, loop_bound;
  std::uint64_t local_size, work_groups, global_size;
  std::uint64_t slm_bytes;
  std::uint64_t element_stride;
  std::uint64_t fwd_dist, bwd_dist;
  std::uint32_t batches_x, batches_y;
  std::uint32_t dist_to_next_simd_group;  // in reals
  std::uint32_t ncol;
  std::uint64_t table_bytes;  // before alignment
};

struct plan_shape {
  std::uint64_t rank;
  const std::int64_t* lengths;
  std::uint64_t forward_distance, backward_distance;
  std::uint64_t batch_multiplier;
  std::uint64_t elem;
  std::uint64_t local_mem_bytes;
};

// The geometry of pass d; false when its length has no factor pair.
bool plan_pass(const plan_shape& shape, std::uint64_t pass, pass_geometry* out);

// The value of `simd_groups_after_transpose` the kernels receive.
inline std::uint32_t groups_after_constant(const pass_geometry& g) {
  return g.loop_bound < 2 ? g.groups_after : g.groups_before;
}

std::string describe_pass(const pass_geometry& g);

}  // namespace ulmara::qez::dft::esimd_2_facts
