// Estimators of the one-dimensional backends and of the small
// multi-dimensional backend.
#include <algorithm>

#include "dft/gpu/core/plan_basics.hpp"
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace {

using plan_basics::is_double;

bool complex_rank1(const dft_estimate_config& c) { return !c.real_domain && c.rank == 1; }
bool packed(const dft_estimate_config& c) { return is_packed_layout(c, estimate_forward, false); }
bool packed_batch(const dft_estimate_config& c) { return is_packed_layout(c, estimate_forward, true); }
bool both_distances_one(const dft_estimate_config& c) {
  return c.fwd_distance == 1 && c.bwd_distance == 1;
}

std::int64_t ru4(std::int64_t b) { return round_up(b, 4); }
std::int64_t ru8(std::int64_t b) { return round_up(b, 8); }

bool two_factor_bounds(std::int64_t a, std::int64_t b) {
  return a % 2 == 0 && a >= 2 && a <= 64 && b >= 2 && b <= 64;
}
bool any_factor_bounds(std::int64_t a, std::int64_t b) {
  return a >= 1 && a <= 64 && b >= 1 && b <= 64;
}

bool is_power_of_two(std::int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

bool only_small_prime_factors(std::int64_t m) {
  for (std::int64_t p = 2; p <= 64 && m > 1; ++p)
    while (m % p == 0) m /= p;
  return m == 1;
}

// One direction's side test of the small multi-dimensional backend.
bool small_md_side_fits(const dft_estimate_config& c, int direction) {
  const stride_sides s = sides_of(c, direction);
  const std::int64_t n = c.lengths[0];
  const std::int64_t rb = c.real_domain ? n / 2 + 1 : n;
  const std::int64_t m = c.number_of_transforms;
  const auto in_place_pair = [&](std::int64_t x, std::int64_t y) {
    return !c.in_place || (c.real_domain ? x == 2 * y : x == y);
  };
  if (s.read[0] != 1 || s.write[0] != 1) return false;
  if (c.rank == 2) {
    if (s.read[1] < static_cast<std::int32_t>(n) || s.write[1] < static_cast<std::int32_t>(rb))
      return false;
    if (!in_place_pair(s.read[1], s.write[1])) return false;
  }
  if (m >= 2 && c.rank == 2) {
    if (c.fwd_distance != s.read[1] * c.lengths[1] || c.bwd_distance != s.write[1] * c.lengths[1])
      return false;
    if (!in_place_pair(c.fwd_distance, c.bwd_distance)) return false;
  }
  if (m >= 2 && c.rank == 1) {
    // A transform's backward-domain row is N/2 + 1 long when real, N when
    // complex; the distance must cover it.
    if (c.fwd_distance < n || c.bwd_distance < rb) return false;
    if (!in_place_pair(c.fwd_distance, c.bwd_distance)) return false;
  }
  return true;
}

}  // namespace

template <class T>
std::int64_t dft_c2c_default_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (!complex_rank1(c)) return estimate_declined;
  return 2 * capped(complex_bytes<T>() * c.lengths[0], c.number_of_transforms);
}

template <class T>
std::int64_t dft_c2c_2_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  const std::int64_t max_n = is_double<T>() ? 1024 : 4096;
  if (!complex_rank1(c) || !packed(c) || n % 2 != 0 || n > max_n) return estimate_declined;
  const factor_pair p = find_factor_pair(n, two_factor_bounds);
  if (!p.found) return estimate_declined;
  return c.direction_count * r128(2 * complex_bytes<T>() * p.a * ru4(p.b));
}

template <class T>
std::int64_t dft_c2c_8k_2_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  constexpr std::int64_t length = 8192;
  if (!complex_rank1(c) || !packed(c) || c.lengths[0] != length) return estimate_declined;
  return saturating_mul(length * complex_bytes<T>(), c.number_of_transforms + 8);
}

template <class T>
std::int64_t dft_c2c_3_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  const std::int64_t max_n = is_double<T>() ? 64000 : 262144;
  if (!complex_rank1(c) || !packed(c) || n % 4 != 0 || n > max_n) return estimate_declined;
  const three_factors f = choose_3_factors(n, is_double<T>());
  if (!f.found) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  return capped(e * (n + 4), c.number_of_transforms) +
         c.direction_count * (r128(e * f.f2 * f.f3) + r128(e * n));
}

template <class T>
std::int64_t dft_c2c_2_facts_colbatch_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (c.real_domain || c.rank > 1 || c.number_of_transforms < 2 || !both_distances_one(c))
    return estimate_declined;
  if (!find_factor_pair(c.lengths[0], any_factor_bounds).found) return estimate_declined;
  return c.direction_count * r128(complex_bytes<T>() * c.lengths[0]);
}

template <class T>
std::int64_t dft_c2c_4_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  if (!complex_rank1(c) || !packed(c) || n < 2048 || n > 1048576) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  const std::int64_t transform = e * n;
  const std::int64_t whole_in_64mib = ((std::int64_t{1} << 26) / transform) * transform;
  return r128(std::max(saturating_mul(c.number_of_transforms, transform), whole_in_64mib)) +
         2 * (r128(transform) + r128(2 * transform));
}

template <class T>
std::int64_t dft_c2c_4_facts_colbatch_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  const std::int64_t min_n = is_double<T>() ? 1025 : 2049;
  const std::int64_t max_n = is_double<T>() ? 1048576 : 4194304;
  if (c.real_domain || c.rank > 1 || c.number_of_transforms < 2 || !both_distances_one(c) ||
      n < min_n || n > max_n)
    return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  return r256(2 * e * n) + 32 * e * n +
         r128(saturating_mul(8 * e * n, ceil_div(c.number_of_transforms, 2)));
}

template <class T>
std::int64_t dft_c2c_n_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  // The backend takes every power of two from 512 to 65536; a class that
  // stopped at 8192 would leave its larger plans out of the estimate.
  const std::int64_t n = c.lengths[0];
  const bool slm_length = is_power_of_two(n) && n >= 512 && n <= 65536;
  if (!complex_rank1(c) || !packed(c) || !slm_length) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  return c.direction_count * r128(2 * e * n) + 2 * r128(e * n);
}

template <class T>
std::int64_t dft_c2c_large_1d_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  if (!complex_rank1(c) || !packed_batch(c) || !is_power_of_two(n) || n < (1 << 21) ||
      n > (1 << 26))
    return estimate_declined;
  constexpr std::int64_t side = 8192;
  const dft_estimate_config columns =
      complex_1d_child(side, side, side, 1, 1, side, c.direction_count, c.in_place != 0);
  const dft_estimate_config rows =
      complex_1d_child(side, 1, 1, side, side, side, c.direction_count, false);
  const std::int64_t e = complex_bytes<T>();
  return estimate_c2c_1d<T>(columns) + dft_c2c_n_facts_gpu_bkd<T>().workspace_estimate(rows) +
         r128(e * c.fwd_distance) + r128(e * n);
}

// The engine's own estimate applies to real-domain configurations only; the
// complex combinations ask it and always hear "declined", so its workspace
// is accounted for by the multi-dimensional classes that own the engine.
template <class T>
std::int64_t dft_c2c_esimd_2_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (c.rank > 3 || !c.real_domain || !packed_batch(c) || c.lengths[0] % 2 != 0)
    return estimate_declined;
  const factor_pair inner = find_esimd_factor_pair(c.lengths[0]);
  if (!inner.found) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  if (c.rank == 2) {
    if (c.lengths[1] % 2 != 0) return estimate_declined;
    const factor_pair outer = find_esimd_factor_pair(c.lengths[1]);
    if (!outer.found) return estimate_declined;
    return 2 * (r128(e * inner.a * ru8(inner.b)) + r128(e * outer.a * ru8(outer.b)));
  }
  return 2 * r128(e * inner.a * ru8(inner.b));
}

template <class T>
std::int64_t dft_small_md_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  // Complex configurations of rank 2 are taken by the backend too, so the
  // class takes them: declining would leave their tables out of the estimate.
  if (c.rank > 2) return estimate_declined;
  if (c.real_domain && n % 2 != 0) return estimate_declined;
  if (!small_md_side_fits(c, estimate_forward) && !small_md_side_fits(c, estimate_backward))
    return estimate_declined;
  const std::int64_t m = c.real_domain ? n / 2 : n;
  if (m < 1 || m > (std::int64_t{1} << 24) || !only_small_prime_factors(m)) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  std::int64_t bytes = r128(e * std::min<std::int64_t>(ceil_div(m, 4), 4096)) +
                       r128(e * std::min<std::int64_t>(ceil_div(m, 2), 262144)) +
                       r128((2 * e * m + 1024 * e) * c.direction_count);
  if (c.real_domain) bytes += r128(e * round_up(m, 2) + 1024 * e);
  if (c.rank == 2) {
    const factor_pair p = find_factor_pair(c.lengths[1], any_factor_bounds);
    if (!p.found) return estimate_declined;
    if (p.b >= 2) bytes += r128(e * c.lengths[1]);
  }
  return bytes;
}

template <class T>
std::int64_t dft_r2c_1d_main_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (!c.real_domain || c.rank != 1) return estimate_declined;
  const std::int64_t n = c.lengths[0];
  const bool even = n % 2 == 0;
  const std::int64_t h = even ? n / 2 : n;
  const std::int64_t s = complex_bytes<T>() * h;
  if (s <= 0) return estimate_declined;
  const std::int64_t w = capped(s, c.number_of_transforms);
  const std::int64_t group = w / s;
  const auto child = [&](std::int64_t transforms) {
    return estimate_c2c_1d<T>(
        complex_1d_child(h, 1, 1, h, h, transforms, c.direction_count, c.in_place != 0));
  };
  // Transforms run in groups of what the temporary holds; a last, shorter
  // group has a complex child of its own, with tables of its own.
  const std::int64_t remainder = group > 0 ? c.number_of_transforms % group : 0;
  const bool short_last_group = c.number_of_transforms > group && remainder != 0;
  return w + (even ? r128(s) : 0) + child(group) + (short_last_group ? child(remainder) : 0);
}

#define QEZ_INSTANTIATE(name) \
  template class name<float>; \
  template class name<double>;
QEZ_INSTANTIATE(dft_c2c_default_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_2_facts_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_8k_2_facts_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_3_facts_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_2_facts_colbatch_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_4_facts_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_4_facts_colbatch_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_n_facts_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_large_1d_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_esimd_2_facts_gpu_bkd)
QEZ_INSTANTIATE(dft_small_md_gpu_bkd)
QEZ_INSTANTIATE(dft_r2c_1d_main_gpu_bkd)
#undef QEZ_INSTANTIATE

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
