// The transposes strategy of the 2D main backend (single precision, one
// dense 16384 x 16384 transform on Harix): a 1D child over the rows from the
// input to the output, a transpose of the output into a temporary, a 1D
// child over the rows of the temporary in place, and a transpose back. One
// child per pass serves both directions.
#include <algorithm>
#include <cstdio>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "gpu/service/device_registry.hpp"
#include "qez_dft_engine.h"

namespace ulmara::qez::dft::c2c_2d_main {

const char* const transpose_family = kernels::family_transpose;

namespace {

constexpr std::size_t child_name_bytes = 10;
constexpr std::size_t options_bytes = 1024;
constexpr std::int64_t word_bytes = 4;          // one 32-bit word of a complex float
constexpr std::int64_t complex_float_bytes = 8;

using plan_basics::ll;

// The widest of 8, 4, 2, 1 that divides `q` and whose blocks of `w x h`
// fit in `extent`; 0 when none does.
std::int64_t vector_width(std::int64_t q, std::int64_t h, std::int64_t extent) {
  for (std::int64_t w : {8, 4, 2, 1})
    if (q % w == 0 && w * h <= extent) return w;
  return 0;
}

std::int64_t largest_sub_group_size(const sycl::queue& q) {
  std::int64_t largest = 0;
  for (std::size_t s : sub_group_sizes_of(q.get_device()))
    largest = std::max<std::int64_t>(largest, static_cast<std::int64_t>(s));
  return largest;
}

int name_child(DFTI_DESCRIPTOR* child, const char* label) {
  char name[child_name_bytes] = {};
  std::snprintf(name, sizeof name, "%s", label);
  return child->methods->set_name(child, name, child_name_bytes, ' ');
}

// The child of pass p: NR transforms of length NC, unit stride, rows
// `distance` apart. The pass-1 child carries the parent's scales, so the
// strategy honours them like the children strategy does.
int make_pass_child(DFTI_DESCRIPTOR*& slot, const block& b, const DFTI_DESCRIPTOR* parent, int pass,
                    std::int64_t distance) {
  const transpose_geometry& g = b.transpose_pass[pass];
  int status = create_child_descriptor_c2c_1d_float(&slot, g.num_cols, nullptr);
  if (status != status_success) return status;
  DFTI_DESCRIPTOR* c = slot;
  qez_dft_bless_node_thr(c);
  c->queue = parent->queue;
  c->batch.records[1] = dim_record{b.transforms, b.fwd_distance, b.bwd_distance, 0, 0};
  c->offload_mode = parent->offload_mode;
  c->workspace_internal = 0;
  c->set_flags = (c->set_flags & ~explicit_layout_flags) | io_set_flags;
  if ((status = name_child(c, pass == 0 ? "2D_C2C|1d" : "2D_C2C|2d")) != status_success) return status;
  const std::int64_t unit_strides[2] = {0, 1};
  if ((status = c->methods->set_input_strides(c, unit_strides)) != status_success) return status;
  if ((status = c->methods->set_output_strides(c, unit_strides)) != status_success) return status;
  if ((status = c->methods->set_input_distance(c, distance)) != status_success) return status;
  if ((status = c->methods->set_output_distance(c, distance)) != status_success) return status;
  if ((status = c->methods->set_number_of_transforms(c, g.num_rows)) != status_success) return status;
  c->user_threads = 1;
  c->placement = pass == 0 ? parent->placement : dfti_inplace;
  if (pass == 1) {
    c->fwd_scale = parent->fwd_scale;
    c->bwd_scale = parent->bwd_scale;
  }
  c->is_child = 1;
  return c->methods->commit(c);
}

int build_transpose(block& b, int pass) {
  char kernel_name[name_bytes];
  char options[options_bytes];
  if (!format_transpose_names(b.transpose_pass[pass], b.subgroup_size, kernel_name, sizeof kernel_name, options,
                              sizeof options))
    return status_internal_error;
  const char* text = kernels::program_text(transpose_family, false);
  if (text == nullptr) return status_internal_error;
  const cached_kernel_request request{b.queue, transpose_program_name(pass), text, kernel_name, options};
  return build_cached_kernel(request, b.transpose_kernels[pass], build_check::kernel_only);
}

void abandon(block& b) {
  release_children(b);
  release_kernel_handles(b.transpose_kernels);
  b.transpose_pass[0] = b.transpose_pass[1] = transpose_geometry{};
  b.subgroup_size = 0;
  b.temp_bytes = 0;
  b.temp_in_part0 = 0;
}

bool plan_passes(block& b, DFTI_DESCRIPTOR* r) {
  const std::int64_t local_memory =
      static_cast<std::int64_t>(b.queue->get_device().get_info<sycl::info::device::local_mem_size>());
  b.subgroup_size = largest_sub_group_size(*b.queue);
  const std::int64_t work_group = gpu::qez_gpu_get_max_workgroup_size(b.queue);
  const std::int64_t distances[2] = {b.dims[0].length, b.dims[1].length};
  DFTI_DESCRIPTOR** slots[2] = {&b.row_plan_fwd, &b.col_plan_fwd};
  for (int pass = 0; pass < 2; ++pass) {
    transpose_geometry& g = b.transpose_pass[pass];
    // Pass 0 transposes the N1 x N0 output, pass 1 the N0 x N1 temporary.
    g.num_rows = b.dims[1 - pass].length;
    g.num_cols = b.dims[pass].length;
    if (!plan_transpose(g, local_memory, b.subgroup_size, work_group)) return false;
    if (make_pass_child(*slots[pass], b, r, pass, distances[pass]) != status_success) return false;
    if (build_transpose(b, pass) != status_success) return false;
  }
  return true;
}

}  // namespace

const char* transpose_program_name(int pass) {
  static constexpr auto pass_0_name = kernels::cache_program_name(kernels::family_transpose, "0");
  static constexpr auto pass_1_name = kernels::cache_program_name(kernels::family_transpose, "1");
  return pass == 0 ? pass_0_name.data() : pass_1_name.data();
}

bool plan_transpose(transpose_geometry& g, std::int64_t local_memory, std::int64_t sub_group,
                    std::int64_t work_group) {
  const std::int64_t h = sub_group / 2;
  const std::int64_t unit = work_group * h * word_bytes;
  if (h < 1 || work_group < 1 || unit < 1) return false;
  const std::int64_t q = local_memory / unit;
  if (q < 1) return false;
  const std::int64_t vw = vector_width(q, h, g.num_rows);
  const std::int64_t vr = vw == 0 ? 0 : vector_width(q / vw, h, g.num_cols);
  if (vw == 0 || vr == 0) return false;
  g.vector_write = vw;
  g.vector_read = vr;
  g.work_group_size = work_group;
  g.local_bytes = vw * unit * vr;
  g.row_groups = g.num_rows / (vw * h);
  g.col_items = 2 * g.num_cols / vr;
  return g.num_rows % (vw * h) == 0 && g.num_cols % (vr * h) == 0 && g.col_items % work_group == 0;
}

bool format_transpose_names(const transpose_geometry& g, std::int64_t sub_group, char* kernel_name,
                            std::size_t name_size, char* options, std::size_t options_size) {
  const int n = std::snprintf(kernel_name, name_size, "transpose_r%lld_c%lld_vr%lld_vw%lld", ll(g.num_rows),
                              ll(g.num_cols), ll(g.vector_read), ll(g.vector_write));
  if (n <= 0 || static_cast<std::size_t>(n) >= name_size) return false;
  const int m = std::snprintf(options, options_size,
                              "-DKERNEL_FUNC=%s -DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DNUM_ROWS=%lld "
                              "-DNUM_COLS=%lld -DVECTOR_READ_SIZE=%lld -DVECTOR_WRITE_SIZE=%lld ",
                              kernel_name, ll(g.work_group_size), ll(sub_group), ll(g.num_rows), ll(g.num_cols),
                              ll(g.vector_read), ll(g.vector_write));
  return m > 0 && static_cast<std::size_t>(m) < options_size;
}

bool try_transposes_strategy(block& b, DFTI_DESCRIPTOR* r) {
  if (!plan_passes(b, r)) {
    abandon(b);
    return false;
  }
  DFTI_DESCRIPTOR* pass0 = b.row_plan_fwd;
  DFTI_DESCRIPTOR* pass1 = b.col_plan_fwd;
  b.row_plan_bwd = pass0;
  b.col_plan_bwd = pass1;
  b.forward_pair = b.backward_pair = 1;
  b.temp_in_part0 = pass1->workspace_bytes[workspace_part_scratch] != 0 ? 1 : 0;
  const transpose_geometry& g = b.transpose_pass[0];
  b.temp_bytes = static_cast<std::int64_t>(pad_to_base_addr_align(
      static_cast<std::uint64_t>(b.transforms * g.num_rows * g.num_cols * complex_float_bytes), b.queue));
  std::uint64_t persistent = pass0->workspace_bytes[workspace_part_twiddles] +
                             pass1->workspace_bytes[workspace_part_twiddles];
  std::uint64_t scratch = std::max(pass0->workspace_bytes[workspace_part_scratch],
                                   pass1->workspace_bytes[workspace_part_scratch]);
  const std::uint64_t temp = static_cast<std::uint64_t>(b.temp_bytes);
  if (b.temp_in_part0)
    persistent += temp;
  else
    scratch = std::max(scratch, temp);
  r->workspace_bytes[workspace_part_twiddles] = persistent;
  r->workspace_bytes[workspace_part_scratch] = scratch;
  b.transposes = 1;
  return true;
}

}  // namespace ulmara::qez::dft::c2c_2d_main
