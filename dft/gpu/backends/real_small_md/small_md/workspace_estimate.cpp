// Workspace estimate of the small multi-dimensional backend: its factor
// tables, the row buffers of each direction and, for two dimensions, the
// table of the second dimension when the backend's own factorisation
// splits it.
#include <algorithm>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/small_md/plan.hpp"
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

namespace {

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

// How the backend factors the second dimension: in two factors (which needs
// a table of its own), in one, or not at all.
enum class second_dimension { split, single_factor, refused };

second_dimension factor_second_dimension(std::int64_t length) {
  std::int64_t factors[2] = {};
  if (small_md::factorize_length(2, length, factors) == status_success) return second_dimension::split;
  if (length >= 1 && length <= small_md::max_radix) return second_dimension::single_factor;
  return second_dimension::refused;
}

}  // namespace

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
    const second_dimension second = factor_second_dimension(c.lengths[1]);
    if (second == second_dimension::refused) return estimate_declined;
    if (second == second_dimension::split) bytes += r128(e * c.lengths[1]);
  }
  return bytes;
}

template class dft_small_md_gpu_bkd<float>;
template class dft_small_md_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
