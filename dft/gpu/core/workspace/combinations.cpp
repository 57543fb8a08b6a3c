// The combinations: the largest estimate among the classes that would take a
// configuration, and the aggregators that fill the configuration from a
// descriptor record.
#include <algorithm>
#include <memory>
#include <vector>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/workspace/estimate_support.hpp"
#include "dft/gpu/core/workspace_estimators.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace ulmara::qez::dft {
namespace {

template <class T>
using estimator_list = std::vector<std::unique_ptr<dft_base_bkd<T>>>;

template <class T>
std::int64_t largest(const estimator_list<T>& classes, const dft_estimate_config& c) {
  std::int64_t best = estimate_declined;
  for (const auto& k : classes) best = std::max(best, k->workspace_estimate(c));
  return best;
}

template <class T, template <class> class... Classes>
estimator_list<T> make_list() {
  estimator_list<T> list;
  (list.push_back(std::make_unique<Classes<T>>()), ...);
  return list;
}

template <class T>
std::int64_t sum_of_axis_children(const dft_estimate_config& c, int direction,
                                  std::int32_t direction_count) {
  std::int64_t total = 0;
  for (int axis = 0; axis < c.rank; ++axis) {
    dft_estimate_config child = axis_child(c, axis, direction);
    child.direction_count = direction_count;
    total += estimate_c2c_1d<T>(child);
  }
  return total;
}

std::uint64_t never_negative(std::int64_t bytes) {
  return bytes < 0 ? 0 : static_cast<std::uint64_t>(bytes);
}

template <class T>
std::uint64_t estimate_complex_record(const DFTI_DESCRIPTOR* record) {
  const dft_estimate_config c = estimate_config_of(record);
  std::int64_t bytes = 0;
  switch (c.rank) {
    case 1: bytes = estimate_c2c_1d<T>(c); break;
    case 2:
      bytes = std::max(estimate_c2c_1d<T>(c), dft_c2c_2d_main_gpu_bkd<T>().workspace_estimate(c));
      break;
    case 3:
      bytes = std::max({estimate_c2c_1d<T>(c), dft_c2c_3d_padded_gpu_bkd<T>().workspace_estimate(c),
                        dft_c2c_3d_main_gpu_bkd<T>().workspace_estimate(c)});
      break;
    default: break;
  }
  return never_negative(bytes);
}

template <class T>
std::uint64_t estimate_real_record(const DFTI_DESCRIPTOR* record) {
  return never_negative(estimate_r2c_md<T>(estimate_config_of(record)));
}

}  // namespace

dft_estimate_config estimate_config_of(const DFTI_DESCRIPTOR* record) {
  if (record == nullptr) throw invalid_descriptor_exception();
  dft_estimate_config c;
  c.rank = record->work_lengths.count;
  const int filled = std::min({c.rank, record->lengths.count, estimate_max_rank});
  for (int k = 0; k < filled; ++k) {
    const dim_record& r = record->lengths.records[k];
    c.lengths[k] = r.length;
    c.input_strides[k] = r.input;
    c.output_strides[k] = r.output;
    c.fwd_strides[k] = r.forward;
    c.bwd_strides[k] = r.backward;
  }
  if (record->batch.count > 0) {
    c.number_of_transforms = record->batch.records[0].length;
    c.fwd_distance = record->batch.records[0].forward;
    c.bwd_distance = record->batch.records[0].backward;
  }
  c.direction_count = 2;
  c.in_place = record->placement == dfti_inplace;
  c.real_domain = record->domain == dfti_real;
  return c;
}

template <class T>
std::int64_t estimate_c2c_1d(const dft_estimate_config& c) {
  const auto group_a = make_list<T, dft_c2c_2_facts_gpu_bkd, dft_c2c_8k_2_facts_gpu_bkd,
                                 dft_c2c_3_facts_gpu_bkd, dft_c2c_default_gpu_bkd>();
  const auto group_b =
      make_list<T, dft_small_md_gpu_bkd, dft_c2c_esimd_2_facts_gpu_bkd,
                dft_c2c_2_facts_colbatch_gpu_bkd, dft_c2c_4_facts_gpu_bkd,
                dft_c2c_4_facts_colbatch_gpu_bkd, dft_c2c_n_facts_gpu_bkd, dft_c2c_large_1d_gpu_bkd,
                dft_c2c_default_gpu_bkd>();
  return std::max(largest(group_a, c), largest(group_b, c));
}

template <class T>
std::int64_t estimate_r2c_1d(const dft_estimate_config& c) {
  return std::max<std::int64_t>({0, dft_small_md_gpu_bkd<T>().workspace_estimate(c),
                                 dft_r2c_1d_main_gpu_bkd<T>().workspace_estimate(c)});
}

template <class T>
std::int64_t estimate_r2c_md(const dft_estimate_config& c) {
  std::int64_t bytes = 0;
  switch (c.rank) {
    case 1: bytes = estimate_r2c_1d<T>(c); break;
    case 2:
      bytes = std::max(dft_small_md_gpu_bkd<T>().workspace_estimate(c),
                       dft_r2c_2d_main_gpu_bkd<T>().workspace_estimate(c));
      break;
    case 3: bytes = dft_r2c_3d_main_gpu_bkd<T>().workspace_estimate(c); break;
    default: break;
  }
  return std::max<std::int64_t>(bytes, 0);
}

template <class T>
std::int64_t complex_md_estimate(const dft_estimate_config& c) {
  const bool same = same_layout_both_sides(c);
  const std::int64_t fwd = sum_of_axis_children<T>(c, estimate_forward, same ? c.direction_count : 1);
  if (same) return fwd;
  const std::int64_t bwd = sum_of_axis_children<T>(c, estimate_backward, 1);
  return c.direction_count == 1 ? std::max(fwd, bwd) : fwd + bwd;
}

template std::int64_t complex_md_estimate<float>(const dft_estimate_config&);
template std::int64_t complex_md_estimate<double>(const dft_estimate_config&);
template std::int64_t estimate_c2c_1d<float>(const dft_estimate_config&);
template std::int64_t estimate_c2c_1d<double>(const dft_estimate_config&);
template std::int64_t estimate_r2c_1d<float>(const dft_estimate_config&);
template std::int64_t estimate_r2c_1d<double>(const dft_estimate_config&);
template std::int64_t estimate_r2c_md<float>(const dft_estimate_config&);
template std::int64_t estimate_r2c_md<double>(const dft_estimate_config&);

std::int64_t estimate_workspace_c2c_1d_float(dft_estimate_config c) { return estimate_c2c_1d<float>(c); }
std::int64_t estimate_workspace_c2c_1d_double(dft_estimate_config c) { return estimate_c2c_1d<double>(c); }
std::int64_t estimate_workspace_r2c_1d_float(dft_estimate_config c) { return estimate_r2c_1d<float>(c); }
std::int64_t estimate_workspace_r2c_1d_double(dft_estimate_config c) { return estimate_r2c_1d<double>(c); }
std::int64_t estimate_workspace_r2c_md_float(dft_estimate_config c) { return estimate_r2c_md<float>(c); }
std::int64_t estimate_workspace_r2c_md_double(dft_estimate_config c) { return estimate_r2c_md<double>(c); }

std::uint64_t estimate_workspace_c2c_float(const DFTI_DESCRIPTOR* r) { return estimate_complex_record<float>(r); }
std::uint64_t estimate_workspace_c2c_double(const DFTI_DESCRIPTOR* r) { return estimate_complex_record<double>(r); }
std::uint64_t estimate_workspace_r2c_float(const DFTI_DESCRIPTOR* r) { return estimate_real_record<float>(r); }
std::uint64_t estimate_workspace_r2c_double(const DFTI_DESCRIPTOR* r) { return estimate_real_record<double>(r); }

}  // namespace ulmara::qez::dft
