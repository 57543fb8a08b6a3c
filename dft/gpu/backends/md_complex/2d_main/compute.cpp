// Compute entries of the 2D main backend: the strategy bkd_init chose runs
// its passes one after another, USM passes chained by events, buffer passes
// ordered by their accessors.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_main/esimd_strategy.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/core/submitted_work.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace ulmara::qez::dft::c2c_2d_main {

namespace {

constexpr std::int64_t column_local_bytes_per_point = 64;  // double; half in single precision

sycl::detail::code_location location(const char* function, unsigned long line) {
  return sycl::detail::code_location(__FILE__, function, line, 0);
}

// One call of the direction: the caller's arguments and the direction's
// children.
struct call {
  DFTI_DESCRIPTOR* record;
  void* input;
  void* output;
  void* dependencies;
  std::uint64_t* container_kind;
  void* result_event;
  plan_basics::direction d;
  DFTI_DESCRIPTOR* row;
  DFTI_DESCRIPTOR* column;

  std::uint64_t kind() const { return *container_kind; }
  int run(DFTI_DESCRIPTOR* child, void* in, void* out, void* deps, std::uint64_t* kind_word, void* result) const {
    const compute_entry entry = d == plan_basics::dir_forward ? child->compute_fwd : child->compute_bwd;
    return entry(child, in, out, deps, kind_word, result);
  }
};

// Each child of the direction takes the parent's offload mode and queue at
// every call; a direction without a committed pair of children cannot run.
int prepare_children(const block& b, const call& c) {
  const bool pair = c.d == plan_basics::dir_forward ? b.forward_pair : b.backward_pair;
  if (!pair || c.row == nullptr || c.column == nullptr) return status_invalid_configuration;
  for (DFTI_DESCRIPTOR* child : {c.row, c.column}) {
    child->offload_mode = c.record->offload_mode;
    child->queue = c.record->queue;
  }
  return status_success;
}

int run_children(const call& c) {
  sycl::event e;
  submitted_work work;
  const int status = c.run(c.row, c.input, c.output, c.dependencies, c.container_kind, &e);
  if (status != status_success) return status;
  event_list after_row{work.add(e)};
  return work.settle(c.run(c.column, c.output, c.output, &after_row, c.container_kind, c.result_event));
}

// ---------------------------------------------------------------------------
// Batched layout: one 2D transform at a time.

void refuse_sub_buffers(const call& c) {
  const auto is_sub = [](void* b) { return b != nullptr && static_cast<byte_buffer*>(b)->is_sub_buffer(); };
  if (is_sub(c.input) || is_sub(c.output))
    throw ulmara::qez::invalid_argument("FFT", c.d == plan_basics::dir_forward ? "compute_forward" : "compute_backward",
                                        "Sub-buffer inputs are not supported for this size. See Qezlib release notes.");
}

std::unique_ptr<byte_buffer> byte_slice(void* buffer, std::int64_t offset, std::int64_t bytes) {
  return std::make_unique<byte_buffer>(*static_cast<byte_buffer*>(buffer), sycl::id<1>(static_cast<size_t>(offset)),
                                       sycl::range<1>(static_cast<size_t>(bytes)),
                                       location("compute_2d_xwd", __LINE__));
}

int run_batched_layout(const block& b, const call& c) {
  if ((c.kind() & container_word_buffer_bit) != 0) refuse_sub_buffers(c);
  const bool fwd = c.d == plan_basics::dir_forward;
  const std::int64_t din = b.byte_distances[fwd ? fwd_in_bytes : bwd_in_bytes];
  const std::int64_t dout = b.byte_distances[fwd ? fwd_out_bytes : bwd_out_bytes];
  const bool out_of_place = c.record->placement == dfti_not_inplace;
  const bool usm_slices = (c.kind() & container_word_usm_bit) != 0;
  sycl::event e;
  submitted_work work;
  int first_failure = status_success;
  for (std::int64_t i = 0; i < b.transforms; ++i) {
    int status = status_success;
    std::unique_ptr<byte_buffer> in_slice, out_slice;
    void* si;
    void* so;
    if (usm_slices) {
      si = static_cast<char*>(c.input) + i * din;
      so = out_of_place ? static_cast<char*>(c.output) + i * dout : si;
    } else {
      in_slice = byte_slice(c.input, i * din, din);
      if (out_of_place) out_slice = byte_slice(c.output, i * dout, dout);
      si = in_slice.get();
      so = out_of_place ? out_slice.get() : si;
    }
    if (i == 0) {
      status = c.run(c.row, si, so, c.dependencies, c.container_kind, &e);
    } else {
      if ((c.kind() & container_word_buffer_bit) != 0) e.wait();
      event_list previous{e};
      status = c.run(c.row, si, so, &previous, c.container_kind, &e);
    }
    if (status == status_success) {
      event_list after_row{work.add(e)};
      status = c.run(c.column, so, so, &after_row, c.container_kind, &e);
      if (status == status_success) work.add(e);
    }
    // A failing transform does not stop the batch, and a later success does
    // not hide it: the call reports the first failure.
    if (first_failure == status_success) first_failure = status;
  }
  hand_back_event(c.result_event, e);
  return work.settle(first_failure);
}

// ---------------------------------------------------------------------------
// Transposes strategy.

sycl::event submit_transpose(const block& b, void* source, std::int64_t source_kind, void* destination,
                             std::int64_t destination_kind, sycl::event dependency, int w) {
  const transpose_geometry& g = b.transpose_pass[w];
  sycl::kernel& kernel = *b.transpose_kernels[w];
  const bool buffers_only = source_kind != kind_usm_pointer && destination_kind != kind_usm_pointer;
  return b.queue->submit(
      [&](sycl::handler& cgh) {
        if (!buffers_only) cgh.depends_on(dependency);
        dft_set_arg_with<sycl::access_mode::read>(cgh, 0, source, source_kind);
        dft_set_arg_with<sycl::access_mode::write>(cgh, 1, destination, destination_kind);
        cgh.set_arg(2, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(g.local_bytes)), cgh));
        cgh.parallel_for(sycl::nd_range<2>(sycl::range<2>(static_cast<size_t>(g.row_groups),
                                                          static_cast<size_t>(g.col_items)),
                                           sycl::range<2>(1, static_cast<size_t>(g.work_group_size))),
                         kernel);
      },
      location("submit_transpose", __LINE__));
}

int run_transposes(const block& b, const call& c) {
  const bool usm_temp = c.record->workspace_internal != 0 || b.workspace_kind == plan_basics::workspace_usm;
  std::uint64_t temp_kind = usm_temp ? plan_basics::workspace_usm : plan_basics::workspace_buffer;
  void* temp = usm_temp ? b.temp_usm : static_cast<void*>(b.temp_buf.get());
  if (temp == nullptr) return status_no_workspace;
  const std::int64_t data_kind = (c.kind() & container_word_buffer_bit) != 0 ? kind_byte_buffer : kind_usm_pointer;
  const std::int64_t t_kind = static_cast<std::int64_t>(temp_kind);
  sycl::event e;
  submitted_work work;
  int status = c.run(c.row, c.input, c.output, c.dependencies, c.container_kind, &e);
  if (status != status_success) return status;
  work.add(e);
  event_list after_transpose{work.add(submit_transpose(b, c.output, data_kind, temp, t_kind, e, 0))};
  status = c.run(c.column, temp, temp, &after_transpose, &temp_kind, &e);
  if (status != status_success) return status;
  work.add(e);
  hand_back_event(c.result_event, submit_transpose(b, temp, t_kind, c.output, data_kind, e, 1));
  return work.settle(status_success);
}

// ---------------------------------------------------------------------------
// Fused strategy: the row kernel from input to output, the column kernel in
// place on the output.

void compute_2d_kernel(block& b, const call& c, std::int64_t data_kind) {
  const bool fwd = c.d == plan_basics::dir_forward;
  const dim_plan& d0 = b.dims[0];
  const dim_plan& d1 = b.dims[1];
  const std::int64_t h = b.transforms, bpg = d0.batch_per_group;
  const std::int64_t row_groups = (h * d1.length + bpg - 1) / bpg;
  const std::int64_t c4 = (2 * d0.length + 7) / 8;
  const std::int64_t col_groups = (c4 * h + bpg - 1) / bpg;
  const std::int64_t col_local = d1.length * column_local_bytes_per_point / (b.double_precision ? 1 : 2);
  const bool usm_tables = c.record->workspace_internal != 0 || b.workspace_kind == plan_basics::workspace_usm;
  const std::int64_t table_kind = usm_tables ? kind_usm_pointer : static_cast<std::int64_t>(b.workspace_kind);
  const int row_t = fwd ? row_table_fwd : row_table_bwd;
  const int col_t = fwd ? col_table_a : col_table_b;
  const auto table = [&](int t) { return usm_tables ? b.tables_usm[t] : static_cast<void*>(b.tables_buf[t].get()); };
  const auto wait_table = [&](sycl::handler& cgh, int t) {
    if (b.in_order == 0 && table_kind == kind_usm_pointer && b.table_events[t] != nullptr)
      cgh.depends_on(*b.table_events[t]);
  };
  const bool usm_data = data_kind == kind_usm_pointer;
  const auto* deps = dependency_list(c.dependencies);
  sycl::kernel& row_kernel = *b.kernels[fwd ? row_kernel_fwd : row_kernel_bwd];
  sycl::kernel& col_kernel = *b.kernels[fwd ? col_kernel_fwd : col_kernel_bwd];
  const auto range_of = [](std::int64_t groups, std::int64_t local) {
    return sycl::nd_range<1>(sycl::range<1>(static_cast<size_t>(groups * local)),
                             sycl::range<1>(static_cast<size_t>(local)));
  };
  submitted_work work;
  const sycl::event rows = work.add(b.queue->submit(
      [&](sycl::handler& cgh) {
        wait_table(cgh, row_t);
        if (usm_data && deps != nullptr) cgh.depends_on(*deps);
        dft_set_arg_input(cgh, c.input, data_kind);
        dft_set_arg_inout(cgh, c.output, data_kind);
        dft_set_arg(cgh, 2, table(row_t), table_kind);
        cgh.set_arg(3, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(d0.local_bytes)), cgh));
        cgh.parallel_for(range_of(row_groups, d0.work_group_size), row_kernel);
      },
      location("compute_2d_kernel", __LINE__)));
  const sycl::event columns = b.queue->submit(
      [&](sycl::handler& cgh) {
        wait_table(cgh, col_t);
        if (usm_data) cgh.depends_on(rows);
        dft_set_arg_input(cgh, c.output, data_kind);
        dft_set_arg_inout(cgh, c.output, data_kind);
        dft_set_arg(cgh, 2, table(col_t), table_kind);
        cgh.set_arg(3, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(col_local)), cgh));
        cgh.parallel_for(range_of(col_groups, d1.work_group_size), col_kernel);
      },
      location("compute_2d_kernel", __LINE__));
  hand_back_event(c.result_event, columns);
  work.settle(status_success);
}

int fused_tables_ready(const block& b, const DFTI_DESCRIPTOR* record, plan_basics::direction d) {
  const bool usm_tables = record->workspace_internal != 0 || b.workspace_kind == plan_basics::workspace_usm;
  const int tables[2] = {d == plan_basics::dir_forward ? row_table_fwd : row_table_bwd,
                         d == plan_basics::dir_forward ? col_table_a : col_table_b};
  for (int t : tables)
    if (usm_tables ? b.tables_usm[t] == nullptr : b.tables_buf[t] == nullptr) return status_no_workspace;
  return status_success;
}

// ---------------------------------------------------------------------------

template <class T>
int compute_2d_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event, plan_basics::direction d) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  std::uint64_t usm_word = container_usm;
  std::uint64_t* kind_word = container_kind != nullptr ? container_kind : &usm_word;
  if (record->offload_mode == offload_asynchronous) {
    b->queue = static_cast<sycl::queue*>(record->queue);
    b->in_order = 0;
    if (b->esimd_plan != nullptr) esimd_set_queue(*b, b->queue);
  }
  if (b->esimd_plan != nullptr) return esimd_compute<T>(*b, input, output, dependencies, *kind_word, result_event, d);

  const int ready = workspace_status(record, b->internal_workspace[workspace_part_twiddles].get(),
                                            b->internal_workspace[workspace_part_scratch].get(), b->workspace_kind);
  if (ready != status_success) return ready;
  const bool fwd = d == plan_basics::dir_forward;
  const call c{record, input, output, dependencies, kind_word, result_event, d,
               fwd ? b->row_plan_fwd : b->row_plan_bwd, fwd ? b->col_plan_fwd : b->col_plan_bwd};
  if (b->fused) {
    if (int s = fused_tables_ready(*b, record, d)) return s;
    const std::int64_t data_kind = (*kind_word & container_word_buffer_bit) != 0 ? kind_byte_buffer : kind_usm_pointer;
    compute_2d_kernel(*b, c, data_kind);
    return status_success;
  }
  if (int s = prepare_children(*b, c)) return s;
  if (b->transposes) return run_transposes(*b, c);
  if (b->batched_layout) return run_batched_layout(*b, c);
  return run_children(c);
}

}  // namespace

QEZ_DEFINE_NAMED_COMPUTE_ENTRIES(compute_2d_fwd, compute_2d_bwd, compute_2d_xwd<T>, plan_basics::dir_forward,
                                 plan_basics::dir_backward)

}  // namespace ulmara::qez::dft::c2c_2d_main
