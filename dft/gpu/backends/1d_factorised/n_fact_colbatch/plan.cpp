// Pure planning of the n-factor column-batch backend: the split of N into
// factors of at most 64 and, per direction, the search over column counts
// and work-groups per compute unit that minimises the block-transfer cost
// times the number of waves of work-groups.
#include <algorithm>
#include <cstdlib>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "dft/gpu/core/ceil_div.hpp"

namespace ulmara::qez::dft::n_fact_colbatch {

namespace {

// The pair of factors (each 2..64) of q with the smallest difference; the
// first found on ties.
bool split_pair(std::int64_t q, std::int64_t (&pair)[2]) {
  if (q < 3) return false;
  bool found = false;
  std::int64_t best = 0;
  for (std::int64_t e = std::min<std::int64_t>(q - 1, largest_factor); e >= 2; --e) {
    if (q % e != 0) continue;
    const std::int64_t other = q / e;
    if (other < 2 || other > largest_factor) continue;
    const std::int64_t difference = std::llabs(other - e);
    if (!found || difference < best) {
      found = true;
      best = difference;
      pair[0] = other;
      pair[1] = e;
    }
    if (best == 0) break;
  }
  return found;
}

// Number of 8-, 4-, 2- and 1-register block transfers for q whole registers
// and a remainder r.
std::int64_t blocks(std::int64_t q, std::int64_t r) {
  return q / 8 + (q % 8) / 4 + (q % 4) / 2 + q % 2 + (r > 0 ? 1 : 0);
}

// Everything of a search that does not change with the candidate.
struct search_frame {
  const search_inputs& in;
  std::int64_t half;
  std::int64_t points;        // P = F0 F1 F2
  std::int64_t largest_rows;  // m: the most rows of any pass
  std::int64_t element;       // bytes of a complex value

  std::int64_t pad(std::int64_t c) const { return (half - c % half) % half; }
  std::int64_t bytes(std::int64_t c) const { return (c * points + pad(c)) * element; }

  // Fewest sub-groups per transform that still need the same number of
  // rounds in every pass.
  std::int64_t shrink(std::int64_t s) const {
    while (s > 1) {
      bool same = true;
      for (std::int64_t f : in.factors) {
        if (f <= 1) continue;
        const std::int64_t rows = points / f;
        if (ceil_div(rows, s - 1) != ceil_div(rows, s)) same = false;
      }
      if (!same) break;
      --s;
    }
    return s;
  }

  bool whole(std::int64_t c) const { return c == in.inner && in.out_stride == in.inner; }

  std::int64_t subgroups_per_fft(std::int64_t c, std::int64_t k) const {
    const std::int64_t g = ceil_div(c, half);
    const std::int64_t s = std::min(largest_rows, in.max_work_group / k / in.subgroup / g);
    return whole(c) ? shrink(s) : s;
  }

  bool odd_offset() const { return in.single_precision && in.out_offset % 2 != 0; }
  bool odd_stride() const { return in.single_precision && in.out_stride % 2 != 0; }
  bool odd_outer() const { return in.single_precision && in.outer > 1 && in.outer_out_distance % 2 != 0; }

  std::int64_t transposed_cost(std::int64_t c, std::int64_t w) const {
    const std::int64_t t = std::min(w, c);
    const std::int64_t unit = half * (w / t);
    std::int64_t r = points;
    const std::int64_t a = r / (8 * unit);
    r %= 8 * unit;
    const std::int64_t b = r / (4 * unit);
    r %= 4 * unit;
    const std::int64_t cc = r / (2 * unit);
    r %= 2 * unit;
    const std::int64_t d = r / unit;
    const std::int64_t e = r > d * unit ? 1 : 0;
    return ceil_div(c, t) * (a + b + cc + d + e);
  }

  std::int64_t whole_cost(std::int64_t w) const {
    const std::int64_t x = w * in.subgroup / 2;
    const std::int64_t total = in.inner * points;
    if (odd_offset() || odd_outer())
      return std::max(blocks(total / x, total % x), blocks((total - 1) / x, (total - 1) % x) + 1);
    return blocks(total / x, total % x);
  }

  std::int64_t row_blocks(std::int64_t v) const { return blocks(v / half, v % half); }
  std::int64_t misaligned_row_blocks(std::int64_t v) const {
    return v > half ? 1 + blocks((v - 1) / half, (v - 1) % half) : 1;
  }
  std::int64_t misaligned_row_cost(std::int64_t v, std::int64_t w) const {
    const std::int64_t a = misaligned_row_blocks(v);
    const std::int64_t b = row_blocks(v);
    const std::int64_t rounds = points / w;
    const std::int64_t rest = points % w;
    return std::max(a, b) * ((rounds + 1) / 2 + (rest > 0 ? 1 : 0)) + std::min(a, b) * (rounds / 2);
  }

  std::int64_t rows_cost(std::int64_t c, std::int64_t w) const {
    const std::int64_t last = in.inner % c == 0 ? c : in.inner % c;
    if (odd_offset() || odd_stride() || odd_outer())
      return std::max(misaligned_row_cost(c, w), misaligned_row_cost(last, w));
    return ceil_div(points, w) * std::max(row_blocks(c), row_blocks(last));
  }

  std::int64_t cost(std::int64_t c, std::int64_t w) const {
    if (in.out_stride == 1) return transposed_cost(c, w);
    if (whole(c)) return whole_cost(w);
    return rows_cost(c, w);
  }
};

struct best_candidate {
  bool found = false;
  std::int64_t cost;
  std::int64_t waves;
  std::int64_t columns = 0;
  std::int64_t bytes = 0;
  std::int64_t k = 0;
  std::int64_t groups = 0;
};

void try_columns(const search_frame& f, std::int64_t c, std::int64_t k_limit, best_candidate* best) {
  const search_inputs& in = f.in;
  const std::int64_t b = f.bytes(c);
  if (b > in.slm_bytes) return;
  const std::int64_t g = ceil_div(c, f.half);
  const std::int64_t kmax = std::min({in.slm_bytes / b, in.max_work_group / (g * in.subgroup), k_limit});
  if (kmax < 1) return;
  const std::int64_t groups = ceil_div(in.inner, c) * in.outer;
  for (std::int64_t k = 1; k <= kmax; ++k) {
    const std::int64_t waves = ceil_div(groups, k * in.compute_units);
    const std::int64_t w = f.subgroups_per_fft(c, k) * g;
    const std::int64_t cost = f.cost(c, w);
    const std::int64_t here = cost * waves;
    const std::int64_t so_far = best->cost * best->waves;
    if (here < so_far || (here == so_far && waves <= best->waves)) {
      best->found = true;
      best->cost = cost;
      best->waves = waves;
      best->columns = c;
      best->bytes = b;
      best->k = k;
      best->groups = groups;
    }
  }
}

}  // namespace

int split_colbatch_factors(std::int64_t count, std::int64_t length, std::int64_t* out) {
  if (length < 1) return status_internal_error;
  if (length == 1 && count != 1) return status_not_handled;
  if (count == 1) {
    if (length > largest_factor) return status_not_handled;
    out[0] = length;
    return status_success;
  }
  if (length <= 2) return status_not_handled;

  std::int64_t best[factor_count] = {0, 0, 0};
  std::int64_t best_spread = largest_factor;
  bool found = false;
  for (std::int64_t d = std::min<std::int64_t>(length - 1, largest_factor); d >= 2; --d) {
    if (length % d != 0) continue;
    const std::int64_t q = length / d;
    if (q < 2) continue;
    std::int64_t candidate[factor_count] = {0, 0, 0};
    if (count == 2) {
      if (q > largest_factor) continue;
      candidate[0] = q;
      candidate[1] = d;
    } else if (count == 3) {
      std::int64_t pair[2];
      if (!split_pair(q, pair)) continue;
      candidate[0] = pair[0];
      candidate[1] = pair[1];
      candidate[2] = d;
    } else {
      continue;
    }
    // Descending; the unused third entry of a pair (0) stays last.
    std::sort(candidate, candidate + factor_count, [](std::int64_t a, std::int64_t b) { return a > b; });
    const std::int64_t spread = candidate[0] - candidate[count - 1];
    if (spread < best_spread) {
      found = true;
      best_spread = spread;
      std::copy(candidate, candidate + count, best);
    }
    if (best_spread == 0) break;
  }
  if (!found) return status_not_handled;
  std::int64_t product = 1;
  for (std::int64_t i = 0; i < count; ++i) product *= best[i];
  if (product != length) return status_internal_error;
  std::copy(best, best + count, out);
  return status_success;
}

bool choose_factors(std::int64_t length, std::int64_t (&f)[factor_count]) {
  f[0] = f[1] = f[2] = 1;
  if (split_colbatch_factors(2, length, f) == status_success) return true;
  if (length >= 1 && length <= largest_factor) {
    f[0] = length;
    return true;
  }
  f[0] = f[1] = f[2] = 1;
  return split_colbatch_factors(3, length, f) == status_success;
}

bool plan_direction(const search_inputs& in, direction_plan* out) {
  if (in.subgroup < 2 || in.inner < 1 || in.outer < 1 || in.compute_units < 1 || in.max_work_group < 1)
    return false;
  std::int64_t points = 1;
  std::int64_t largest_rows = 1;
  for (std::int64_t f : in.factors) points *= f;
  for (std::int64_t f : in.factors)
    if (f > 1) largest_rows = std::max(largest_rows, points / f);
  const search_frame frame{in, in.subgroup / 2, points, largest_rows, in.single_precision ? 8 : 16};
  const std::int64_t half = frame.half;

  if (in.single_precision && in.out_stride == 1 &&
      (in.inner_out_distance % 2 != 0 || in.outer_out_distance % 2 != 0))
    return false;

  std::int64_t c0 = std::min(in.inner, half);
  if (frame.bytes(c0) > in.slm_bytes) return false;
  std::int64_t cmax = std::min(in.inner, 8 * half);
  std::int64_t k_limit = in.max_work_group;  // no limit beyond the device's
  if (in.single_precision) {
    const bool forced_whole = in.out_stride == in.inner && in.slm_bytes > frame.bytes(in.inner) &&
                              (in.inner % 2 != 0 || in.outer_out_distance % 2 != 0) &&
                              ceil_div(in.inner, half) * in.subgroup <= in.max_work_group;
    if (forced_whole) {
      c0 = cmax = in.inner;
      k_limit = 1;
    } else {
      cmax = (in.inner % 2 != 0 && in.inner > 8 * half) ? 9 * half : 8 * half;
      cmax = std::max(std::min(cmax, in.inner), c0);
    }
  }

  best_candidate best;
  best.cost = 2 * in.inner * points + 1;
  best.waves = ceil_div(ceil_div(in.inner, half) * in.outer, in.compute_units) + 1;
  for (std::int64_t c = c0;; c += half) {
    try_columns(frame, std::min(c, cmax), k_limit, &best);
    if (c >= cmax) break;
  }
  if (!best.found) return false;

  if (in.single_precision && points == 2048 && in.outer == 1 && in.inner % 8 == 0 && in.tile_count == 1) {
    const double load = static_cast<double>(best.groups) / static_cast<double>(best.k * in.compute_units);
    if (load > 1.0 && load < 1.36) return false;
  }

  const std::int64_t c = best.columns;
  out->columns = c;
  out->last_columns = in.inner % c == 0 ? c : in.inner % c;
  out->slm_bytes = best.bytes;
  out->groups_per_unit = best.k;
  out->subgroups_per_fft = frame.subgroups_per_fft(c, best.k);
  out->work_group_size = out->subgroups_per_fft * in.subgroup * ceil_div(c, half);
  return true;
}

}  // namespace ulmara::qez::dft::n_fact_colbatch
