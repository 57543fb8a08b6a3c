// Workspace estimate of the real one-dimensional backend: its temporary,
// the half-length table of even lengths and the complex children of its
// transform groups.
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

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

template class dft_r2c_1d_main_gpu_bkd<float>;
template class dft_r2c_1d_main_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
