// The fused strategy of the 2D main backend: dense 192 x 192 and 128 x 128
// transforms with sub-group size 8, one two-factor kernel per dimension from
// the fused program family, the scale folded into the row twiddle tables.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::c2c_2d_main {

namespace {

constexpr const char* fused_family = kernels::family_c2c_3d_2_facts;
constexpr auto program_name_double =
    kernels::cache_program_name(kernels::family_c2c_3d_2_facts, ".qez_dft_gpu_bkd_c2c_2d_main_sycl_d");
constexpr auto program_name_single =
    kernels::cache_program_name(kernels::family_c2c_3d_2_facts, ".qez_dft_gpu_bkd_c2c_2d_main_sycl_s");
constexpr std::int64_t fused_sub_group_size = fused_2_facts::subgroup_size;
constexpr std::int64_t max_row_groups = fused_2_facts::max_group_count;
constexpr std::int64_t column_group_limit = 33;
constexpr std::size_t options_bytes = 2048;

// Factors, pads and local bytes shared by both dimensions; false when the
// length has no two-factor split or its line does not fit local memory.
bool plan_line(dim_plan& d, std::int64_t element_bytes) {
  if (!fused_2_facts::factor_line(d, element_bytes)) return false;
  d.batch_per_group = d.batch_for_last_group = 1;
  return d.local_bytes <= fused_2_facts::max_local_bytes;
}

fused_2_facts::row_groups groups_of(const dim_plan& d) {
  return fused_2_facts::row_group_count(d.fact0, d.pad0, d.fact1, d.pad1);
}

void format_names(block& b) {
  const char* p = b.double_precision ? "d" : "s";
  fused_2_facts::pass_kernel_name(b.row_kernel_name, b.dims[0].length, p, 0);
  fused_2_facts::codelet_name(b.row_fact0_func, b.dims[0].fact0);
  fused_2_facts::codelet_name(b.row_fact1_func, b.dims[0].fact1);
  fused_2_facts::pass_kernel_name(b.col_kernel_name, b.dims[1].length, p, 1);
  fused_2_facts::codelet_name(b.col_fact0_func, b.dims[1].fact0);
  fused_2_facts::codelet_name(b.col_fact1_func, b.dims[1].fact1);
}

int build_kernels(block& b) {
  const char* text = kernels::program_text(fused_family, b.double_precision != 0);
  if (text == nullptr) return status_not_handled;
  const char* program = b.double_precision ? program_name_double.data() : program_name_single.data();
  for (plan_basics::direction d : {plan_basics::dir_forward, plan_basics::dir_backward}) {
    char options[options_bytes];
    if (!format_fused_options(b, d, options, sizeof options)) return status_internal_error;
    const int row = d == plan_basics::dir_forward ? row_kernel_fwd : row_kernel_bwd;
    const int col = d == plan_basics::dir_forward ? col_kernel_fwd : col_kernel_bwd;
    try {
      const cached_kernel_request row_request{b.queue, program, text, b.row_kernel_name, options};
      if (int s = build_cached_kernel(row_request, b.kernels[row], build_check::kernel_only)) return s;
      const cached_kernel_request col_request{b.queue, program, text, b.col_kernel_name, options};
      if (int s = build_cached_kernel(col_request, b.kernels[col], build_check::kernel_only)) return s;
    } catch (const sycl::exception&) {
      // A program that does not build for these options: not this strategy.
      return status_not_handled;
    }
  }
  return status_success;
}

}  // namespace

bool plan_row_dimension(dim_plan& d, std::int64_t element_bytes) {
  if (!plan_line(d, element_bytes)) return false;
  const fused_2_facts::row_groups g = groups_of(d);
  if (g.groups > max_row_groups) return false;
  d.twiddle_bytes = fused_2_facts::row_table_bytes(d.fact0, d.fact1, d.pad1, element_bytes);
  d.work_group_size = fused_sub_group_size * g.groups;
  d.fact1_loop_bound = g.loop_bound;
  return true;
}

bool plan_column_dimension(dim_plan& d, std::int64_t element_bytes) {
  if (!plan_line(d, element_bytes)) return false;
  if (groups_of(d).groups >= column_group_limit) return false;
  d.work_group_size = fused_sub_group_size * d.fact0;
  d.fact1_loop_bound = 1;
  d.twiddle_bytes = fused_2_facts::column_table_bytes(d.fact0, d.fact1, element_bytes);
  return true;
}

bool format_fused_options(const block& b, plan_basics::direction d, char* out, std::size_t bytes) {
  const dim_plan& r = b.dims[0];
  fused_2_facts::option_values v;
  v.long_subgroups = b.double_precision != 0;
  v.fact0 = r.fact0;
  v.pad0 = r.pad0;
  v.fact1 = r.fact1;
  v.pad1 = r.pad1;
  v.kernel_func0 = b.row_kernel_name;
  v.fact0_func = b.row_fact0_func;
  v.fact1_func = b.row_fact1_func;
  v.forward = d == plan_basics::dir_forward ? 1 : 0;
  v.batch_per_group = r.batch_per_group;
  v.batch_for_last_group = r.batch_for_last_group;
  v.n0 = r.length;
  v.n1 = b.dims[1].length;
  v.work_group_size = r.work_group_size;
  v.loop_bound = r.fact1_loop_bound;
  v.batch_dist = v.n0 * v.n1;
  v.kernel_func1 = b.col_kernel_name;
  v.transforms = b.transforms;
  const std::string line = fused_2_facts::format_options(v);
  if (line.empty() || line.size() >= bytes) return false;
  std::memcpy(out, line.c_str(), line.size() + 1);
  return true;
}

template <class T>
bool try_fused_strategy(block& b, DFTI_DESCRIPTOR* r) {
  b.in_place = r->placement == dfti_inplace ? 1 : 0;
  b.scales[plan_basics::dir_forward] = static_cast<T>(r->fwd_scale);
  b.scales[plan_basics::dir_backward] = static_cast<T>(r->bwd_scale);
  if (!offers_sub_group_size(b.queue->get_device(), static_cast<std::size_t>(fused_sub_group_size))) return false;
  dim_plan row = b.dims[0], col = b.dims[1];
  if (!plan_row_dimension(row, b.element_bytes) || !plan_column_dimension(col, b.element_bytes)) return false;
  row.twiddle_bytes = static_cast<std::int64_t>(pad_to_base_addr_align(static_cast<std::uint64_t>(row.twiddle_bytes), b.queue));
  col.twiddle_bytes = static_cast<std::int64_t>(pad_to_base_addr_align(static_cast<std::uint64_t>(col.twiddle_bytes), b.queue));
  b.subgroup_size = fused_sub_group_size;
  b.dims[0] = row;
  b.dims[1] = col;
  format_names(b);
  const int built = build_kernels(b);
  if (built != status_success) {
    // A program the fused kernels cannot come from leaves the plan to the
    // children strategy.
    release_kernel_handles(b.kernels);
    b.subgroup_size = 0;
    return false;
  }
  r->workspace_bytes[workspace_part_twiddles] = static_cast<std::uint64_t>(2 * (row.twiddle_bytes + col.twiddle_bytes));
  r->workspace_bytes[workspace_part_scratch] = 0;
  b.fused = 1;
  return true;
}

template bool try_fused_strategy<float>(block&, DFTI_DESCRIPTOR*);
template bool try_fused_strategy<double>(block&, DFTI_DESCRIPTOR*);

}  // namespace ulmara::qez::dft::c2c_2d_main
