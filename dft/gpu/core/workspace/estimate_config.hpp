// Workspace estimation before a GPU commit: one value record describing the
// configuration, the estimator classes of every GPU backend (pure functions
// of that record, never touching a device) and the combinations that
// aggregate them.
#pragma once

#include <cstdint>
#include <limits>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/ceil_div.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft {

constexpr int estimate_max_rank = 7;

struct dft_estimate_config {
  std::int32_t rank = 0;
  std::int64_t lengths[estimate_max_rank] = {};  // entry 0 innermost
  std::int64_t input_strides[estimate_max_rank] = {};
  std::int64_t output_strides[estimate_max_rank] = {};
  std::int64_t fwd_strides[estimate_max_rank] = {};
  std::int64_t bwd_strides[estimate_max_rank] = {};
  std::int64_t number_of_transforms = 1;
  std::int64_t fwd_distance = 0;
  std::int64_t bwd_distance = 0;
  std::int32_t direction_count = 2;
  std::uint8_t in_place = 0;
  std::uint8_t real_domain = 0;
};

// Estimate of a backend that would not take the configuration.
constexpr std::int64_t estimate_declined = -1;

template <class T>
class dft_base_bkd {
public:
  virtual ~dft_base_bkd() = default;
  // Bytes of workspace, or estimate_declined.
  virtual std::int64_t workspace_estimate(dft_estimate_config config) const = 0;
};

// One estimator class per backend, named after the backend's list name and
// defined beside the backend (workspace_estimate.cpp in its folder), where it
// uses the backend's own planning. dft/gpu/README.md lists them.
#define QEZ_DECLARE_ESTIMATOR(name)                                                     \
  template <class T>                                                                    \
  class name : public dft_base_bkd<T> {                                                 \
  public:                                                                               \
    std::int64_t workspace_estimate(dft_estimate_config config) const override;         \
  };
QEZ_DECLARE_ESTIMATOR(dft_c2c_default_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_2_facts_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_8k_2_facts_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_3_facts_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_2_facts_colbatch_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_4_facts_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_4_facts_colbatch_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_n_facts_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_large_1d_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_esimd_2_facts_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_small_md_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_2d_main_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_3d_main_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_c2c_3d_padded_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_r2c_1d_main_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_r2c_2d_main_gpu_bkd)
QEZ_DECLARE_ESTIMATOR(dft_r2c_3d_main_gpu_bkd)
#undef QEZ_DECLARE_ESTIMATOR

// Combinations.
// The configuration the aggregators estimate, filled from a descriptor
// record (a null record throws invalid_descriptor_exception).
dft_estimate_config estimate_config_of(const DFTI_DESCRIPTOR* record);

std::int64_t estimate_workspace_c2c_1d_float(dft_estimate_config config);
std::int64_t estimate_workspace_c2c_1d_double(dft_estimate_config config);
std::int64_t estimate_workspace_r2c_1d_float(dft_estimate_config config);
std::int64_t estimate_workspace_r2c_1d_double(dft_estimate_config config);
std::int64_t estimate_workspace_r2c_md_float(dft_estimate_config config);
std::int64_t estimate_workspace_r2c_md_double(dft_estimate_config config);

template <class T> std::int64_t estimate_c2c_1d(const dft_estimate_config& config);
template <class T> std::int64_t estimate_r2c_1d(const dft_estimate_config& config);
template <class T> std::int64_t estimate_r2c_md(const dft_estimate_config& config);

// Support operations.
bool is_packed_layout(const dft_estimate_config& config, int direction, bool check_batch);

// ---------------------------------------------------------------------------
// Arithmetic shared by the estimators: rounding and the batch cap, saturating
// instead of wrapping on absurd sizes.

constexpr std::int64_t workspace_batch_cap = std::int64_t{1} << 34;

inline std::int64_t saturating_mul(std::int64_t a, std::int64_t b) {
  std::int64_t product;
  if (__builtin_mul_overflow(a, b, &product)) return std::numeric_limits<std::int64_t>::max() / 2;
  return product;
}
inline std::int64_t round_up(std::int64_t x, std::int64_t step) {
  if (x <= 0) return 0;
  return (x + step - 1) / step * step;
}
inline std::int64_t r128(std::int64_t x) { return round_up(x, 128); }
inline std::int64_t r256(std::int64_t x) { return round_up(x, 256); }

// Bytes for M transforms of s bytes each, capped.
inline std::int64_t capped(std::int64_t per_transform, std::int64_t count) {
  if (per_transform > workspace_batch_cap) return r128(per_transform);
  const std::int64_t all = r128(saturating_mul(count, per_transform));
  return all < workspace_batch_cap ? all : workspace_batch_cap;
}

using plan_basics::complex_bytes;

}  // namespace ulmara::qez::dft
