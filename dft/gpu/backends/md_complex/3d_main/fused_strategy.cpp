// Strategy 2 of the double-precision 3D main backend: packed 135^3
// transforms as three fused two-factor OpenCL kernels per direction (X from
// the input to the output, then Y and Z in place), with the twiddles of the
// three dimensions in six tables of the part-0 workspace. The forward or
// backward scale rides in the X tables; the kernels scale nothing.
#include <algorithm>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "dft/gpu/core/submitted_work.hpp"
#include "dft/gpu/core/workspace_slices.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::c2c_3d_main {

namespace {

namespace f2 = fused_2_facts;

constexpr const char* program_family = kernels::family_c2c_3d_2_facts;
constexpr auto program_name =
    kernels::cache_program_name(kernels::family_c2c_3d_2_facts, ".qez_dft_gpu_bkd_c2c_3d_main_sycl_d");
constexpr std::int64_t element_bytes = 16;
// Local memory of a column pass: four complex values per point of the line.
constexpr std::int64_t column_local_bytes_per_point = 4 * element_bytes;

// Factors and group geometry of one dimension; false when the line does not
// fit the kernels.
bool plan_line(dir_record& dim, bool row_pass) {
  if (!f2::factor_line(dim, element_bytes)) return false;
  if (dim.local_bytes > f2::max_local_bytes) return false;
  const f2::row_groups groups = f2::row_group_count(dim.fact0, dim.pad0, dim.fact1, dim.pad1);
  if (groups.groups > f2::max_group_count) return false;
  dim.batch_per_group = dim.batch_for_last_group = 1;
  if (row_pass) {
    dim.work_group_size = f2::subgroup_size * groups.groups;
    dim.loop_bound = groups.loop_bound;
    dim.table_bytes = f2::row_table_bytes(dim.fact0, dim.fact1, dim.pad1, element_bytes);
  } else {
    dim.work_group_size = f2::subgroup_size * dim.fact0;
    dim.loop_bound = 1;
    dim.table_bytes = f2::column_table_bytes(dim.fact0, dim.fact1, element_bytes);
  }
  return true;
}

f2::option_values options_of(const block<double>& b, int forward) {
  const dir_record& x = b.dirs[0];
  f2::option_values v;
  v.long_subgroups = true;
  v.fact0 = x.fact0;
  v.pad0 = x.pad0;
  v.fact1 = x.fact1;
  v.pad1 = x.pad1;
  v.kernel_func0 = b.kernel_names[0];
  v.fact0_func = b.kernel_names[1];
  v.fact1_func = b.kernel_names[2];
  v.forward = forward;
  v.batch_per_group = x.batch_per_group;
  v.batch_for_last_group = x.batch_for_last_group;
  v.n0 = x.length;
  v.n1 = b.dirs[1].length;
  v.n2 = b.dirs[2].length;
  v.work_group_size = x.work_group_size;
  v.loop_bound = x.loop_bound;
  v.batch_dist = v.n0 * v.n1 * v.n2;
  v.kernel_func1 = b.kernel_names[3];
  v.kernel_func2 = b.kernel_names[6];
  v.transforms = b.transforms;
  return v;
}

// Builds the six pass kernels; false (and nothing kept) when a build fails,
// so that the child plans take over.
bool build_kernels(block<double>& b) {
  const char* source = kernels::program_text(program_family, true);
  if (source == nullptr) return false;
  try {
    for (plan_basics::direction d : {plan_basics::dir_forward, plan_basics::dir_backward}) {
      const std::string options = f2::format_options(options_of(b, d == plan_basics::dir_forward ? 1 : 0));
      for (int dim = 0; dim < dimensions; ++dim) {
        const cached_kernel_request request{b.queue, program_name.data(), source, b.kernel_names[3 * dim],
                                            options.c_str()};
        if (build_cached_kernel(request, b.kernels[slot_of(dim, d)], build_check::kernel_only) != status_success) {
          release_kernel_handles(b.kernels);
          return false;
        }
      }
    }
  } catch (const sycl::exception&) {
    release_kernel_handles(b.kernels);
    return false;
  }
  return true;
}

// The table of a slot and its container kind for a compute call.
struct table_arg {
  void* container;
  std::int64_t kind;
};
table_arg table_of(const block<double>& b, bool usm_tables, int slot) {
  if (usm_tables) return {b.tables_usm[slot], plan_basics::workspace_usm};
  return {b.tables_buffer[slot].get(), plan_basics::workspace_buffer};
}

struct pass_launch {
  sycl::kernel* kernel;
  std::int64_t local;
  std::int64_t groups;
  std::int64_t local_bytes;
};

pass_launch launch_of(const block<double>& b, int dim, plan_basics::direction d) {
  const std::int64_t t = b.transforms;
  const std::int64_t n0 = b.dirs[0].length, n1 = b.dirs[1].length, n2 = b.dirs[2].length;
  const std::int64_t bpg = b.dirs[0].batch_per_group;
  const std::int64_t w = f2::column_blocks(n0);
  const dir_record& own = b.dirs[dim];
  const std::int64_t lines = dim == 0 ? t * n1 * n2 : dim == 1 ? t * n2 * w : t * n1 * w;
  const std::int64_t local_bytes = dim == 0 ? own.local_bytes : column_local_bytes_per_point * own.length;
  return {b.kernels[slot_of(dim, d)], own.work_group_size, (lines + bpg - 1) / bpg, local_bytes};
}

}  // namespace

bool try_fused_strategy(DFTI_DESCRIPTOR* r, block<double>& b) {
  if (!offers_sub_group_size(b.queue->get_device(), static_cast<std::size_t>(f2::subgroup_size))) return false;
  b.in_place = r->placement == dfti_inplace;
  b.forward_scale = r->fwd_scale;
  b.backward_scale = r->bwd_scale;
  b.subgroup_size = f2::subgroup_size;
  for (int dim = 0; dim < dimensions; ++dim)
    if (!plan_line(b.dirs[dim], dim == 0)) return false;

  std::uint64_t persistent = 0;
  for (dir_record& dim : b.dirs) {
    dim.table_bytes = static_cast<std::int64_t>(pad_to_base_addr_align(static_cast<std::uint64_t>(dim.table_bytes), b.queue));
    persistent += 2 * static_cast<std::uint64_t>(dim.table_bytes);
  }
  for (int dim = 0; dim < dimensions; ++dim) {
    f2::pass_kernel_name(b.kernel_names[3 * dim], b.dirs[dim].length, "d", dim);
    f2::codelet_name(b.kernel_names[3 * dim + 1], b.dirs[dim].fact0);
    f2::codelet_name(b.kernel_names[3 * dim + 2], b.dirs[dim].fact1);
  }
  if (!build_kernels(b)) return false;
  r->workspace_bytes[workspace_part_twiddles] = persistent;
  r->workspace_bytes[workspace_part_scratch] = 0;
  b.fused = true;
  return true;
}

int write_fused_tables(block<double>& b, void* workspace, int kind, std::uint64_t offset, void* events) {
  const bool buffer_workspace = kind == plan_basics::workspace_buffer;
  for (int dim = 0; dim < dimensions; ++dim) {
    for (plan_basics::direction d : {plan_basics::dir_forward, plan_basics::dir_backward}) {
      const int slot = slot_of(dim, d);
      const std::uint64_t bytes = static_cast<std::uint64_t>(b.dirs[dim].table_bytes);
      if (buffer_workspace)
        b.tables_buffer[slot].reset(f2::table_view(static_cast<byte_buffer*>(workspace), offset, bytes));
      else
        b.tables_usm[slot] = workspace != nullptr ? static_cast<char*>(workspace) + offset : nullptr;
      offset += bytes;
    }
  }
  auto* collected = static_cast<std::vector<sycl::event>*>(events);
  for (int dim = 0; dim < dimensions; ++dim) {
    const dir_record& line = b.dirs[dim];
    const std::int64_t sg = static_cast<std::int64_t>(b.subgroup_size);
    for (plan_basics::direction d : {plan_basics::dir_forward, plan_basics::dir_backward}) {
      const int slot = slot_of(dim, d);
      const f2::table_target target{b.tables_usm[slot], b.tables_buffer[slot].get()};
      if (!target.present()) return status_no_workspace;
      sycl::event written;
      if (dim == 0) {
        const double scale = d == plan_basics::dir_forward ? b.forward_scale : b.backward_scale;
        const f2::row_table_writer<double> writer{sg / 2, line.fact0, line.length, sg, scale};
        written = f2::upload_line_table<double>(
            *b.queue, writer, sycl::range<2>(static_cast<size_t>(line.fact0), static_cast<size_t>(line.fact1)),
            target);
      } else {
        const f2::column_table_writer<double> writer{line.fact0, sg, line.length};
        written = f2::upload_line_table<double>(
            *b.queue, writer, sycl::range<2>(static_cast<size_t>(line.fact1), static_cast<size_t>(line.fact0)),
            target);
      }
      keep_event(b.table_events[slot], written);
    }
  }
  if (collected != nullptr)
    for (sycl::event* e : b.table_events) collected->push_back(*e);
  return status_success;
}

int fused_compute(DFTI_DESCRIPTOR* r, block<double>& b, plan_basics::direction d, void* input, void* output,
                  void* dependencies, std::uint64_t* container_kind, void* result_event) {
  const bool usm_tables = r->workspace_internal != 0 || b.workspace_kind == plan_basics::workspace_usm;
  const bool buffer_data = is_buffer_form(container_kind);
  const std::int64_t data_kind = buffer_data ? plan_basics::workspace_buffer : plan_basics::workspace_usm;
  if (output == nullptr) output = input;  // in place
  // Nothing is submitted unless all three passes can run.
  for (int dim = 0; dim < dimensions; ++dim) {
    if (b.kernels[slot_of(dim, d)] == nullptr) return status_bad_descriptor;
    if (table_of(b, usm_tables, slot_of(dim, d)).container == nullptr) return status_no_workspace;
  }

  const std::vector<sycl::event>* caller = dependency_list(dependencies);
  sycl::event previous;
  submitted_work work;
  for (int dim = 0; dim < dimensions; ++dim) {
    const int slot = slot_of(dim, d);
    const pass_launch pass = launch_of(b, dim, d);
    const table_arg table = table_of(b, usm_tables, slot);
    void* source = dim == 0 ? input : output;
    sycl::event* table_written = b.table_events[slot];
    previous = work.add(b.queue->submit(
        [&](sycl::handler& cgh) {
          if (!buffer_data) {
            if (dim == 0 && caller != nullptr) cgh.depends_on(*caller);
            if (dim > 0) cgh.depends_on(previous);
          }
          if (b.in_order == 0 && table_written != nullptr && table.kind == plan_basics::workspace_usm)
            cgh.depends_on(*table_written);
          dft_set_arg(cgh, 0, source, data_kind);
          dft_set_arg_inout(cgh, output, data_kind);
          dft_set_arg(cgh, 2, table.container, table.kind);
          cgh.set_arg(3, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(pass.local_bytes)), cgh));
          const size_t local = static_cast<size_t>(pass.local);
          cgh.parallel_for(sycl::nd_range<1>(sycl::range<1>(static_cast<size_t>(pass.groups) * local),
                                             sycl::range<1>(local)),
                           *pass.kernel);
        },
        sycl::detail::code_location(__FILE__, "compute_3d_kernel", __LINE__, 0)));
  }
  hand_back_event(result_event, previous);
  return work.settle(status_success);
}

}  // namespace ulmara::qez::dft::c2c_3d_main
