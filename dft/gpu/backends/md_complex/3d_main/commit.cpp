// Acceptance, planning, workspace, compute and release of the 3D main
// backend, and its backend tables.
#include <algorithm>
#include <type_traits>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/submitted_work.hpp"
#include "dft/gpu/core/workspace_slices.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace c2c_3d_main {

namespace {

constexpr std::int64_t fused_length = 135;

template <class T>
void copy_layout(block<T>& b, const DFTI_DESCRIPTOR* r) {
  const dim_record& batch = r->work_batch.records[0];
  b.transforms = batch.length;
  copy_batch_distances(b, batch);
  for (int dim = 0; dim < dimensions; ++dim) {
    const dim_record& rec = r->work_lengths.records[dim];
    b.dirs[dim].length = rec.length;
    md_complex::take_strides(b.dirs[dim].strides, rec);
  }
  for (sycl::event*& e : b.table_events) e = nullptr;
}

bool all_equal(const std::int64_t (&strides)[4], std::int64_t value) {
  return std::all_of(std::begin(strides), std::end(strides), [&](std::int64_t s) { return s == value; });
}

template <class T>
bool cubic_of(const block<T>& b, std::int64_t n) {
  return b.dirs[0].length == n && b.dirs[1].length == n && b.dirs[2].length == n;
}

// The children of a direction, when all three are committed.
template <class T>
bool direction_ready(const block<T>& b, plan_basics::direction d) {
  return d == plan_basics::dir_forward ? b.forward_committed : b.backward_committed;
}

// Every committed child once, forward triple first: the children whose
// workspace this parent carries.
template <class T>
std::vector<DFTI_DESCRIPTOR*> counted_children(const block<T>& b) {
  std::vector<DFTI_DESCRIPTOR*> out;
  for (plan_basics::direction d : {plan_basics::dir_forward, plan_basics::dir_backward}) {
    if (!direction_ready(b, d)) continue;
    for (int dim = 0; dim < dimensions; ++dim) {
      DFTI_DESCRIPTOR* child = b.children[slot_of(dim, d)];
      const bool twin = d == plan_basics::dir_backward && b.forward_committed &&
                        child == b.children[slot_of(dim, plan_basics::dir_forward)];
      if (!twin) out.push_back(child);
    }
  }
  return out;
}

int hand_to_child(DFTI_DESCRIPTOR* child, void* workspace, int kind, std::uint64_t offset,
                  std::uint32_t phase, void* events) {
  return child->backend->add_workspace(workspace, kind, offset, child, phase, events);
}

template <class T>
int children_compute(DFTI_DESCRIPTOR* r, block<T>& b, plan_basics::direction d, void* input, void* output,
                     void* dependencies, std::uint64_t* container_kind, void* result_event) {
  // A direction whose children did not all commit cannot run.
  if (!direction_ready(b, d)) return status_invalid_configuration;
  DFTI_DESCRIPTOR* passes[dimensions];
  for (int dim = 0; dim < dimensions; ++dim) {
    passes[dim] = b.children[slot_of(dim, d)];
    passes[dim]->offload_mode = r->offload_mode;
    passes[dim]->queue = r->queue;
  }
  if (output == nullptr) output = input;  // in place
  sycl::event done;
  submitted_work work;
  compute_entry entry = d == plan_basics::dir_forward ? passes[0]->compute_fwd : passes[0]->compute_bwd;
  int status = entry(passes[0], input, output, dependencies, container_kind, &done);
  for (int dim = 1; dim < dimensions && status == status_success; ++dim) {
    std::vector<sycl::event> after{work.add(done)};
    entry = d == plan_basics::dir_forward ? passes[dim]->compute_fwd : passes[dim]->compute_bwd;
    status = entry(passes[dim], output, output, &after, container_kind, &done);
  }
  if (status == status_success) hand_back_event(result_event, done);
  return work.settle(status);
}

template <class T>
int compute(DFTI_DESCRIPTOR* r, plan_basics::direction d, void* input, void* output, void* dependencies,
            std::uint64_t* container_kind, void* result_event) {
  block<T>* b = block_of<T>(r);
  if (b == nullptr) return status_invalid_configuration;
  follow_descriptor_queue(r, b);
  if (b->esimd_plan != nullptr) {
    if (r->offload_mode == offload_asynchronous) esimd_follow_queue(*b);
    return esimd_compute(r, *b, d, input, output, dependencies, container_kind, result_event);
  }
  const int ws = workspace_status(r, b->internal_persistent.get(), b->internal_scratch.get(),
                                         b->workspace_kind);
  if (ws != status_success) return ws;
  if constexpr (std::is_same_v<T, double>) {
    if (b->fused) return fused_compute(r, *b, d, input, output, dependencies, container_kind, result_event);
  }
  return children_compute(r, *b, d, input, output, dependencies, container_kind, result_event);
}

}  // namespace

template <class T>
bool packed_layout(const block<T>& b) {
  const std::int64_t n0 = b.dirs[0].length, n1 = b.dirs[1].length, n2 = b.dirs[2].length;
  const bool packed = all_equal(b.dirs[0].strides, 1) && all_equal(b.dirs[1].strides, n0) &&
                      all_equal(b.dirs[2].strides, n0 * n1);
  const std::int64_t volume = n0 * n1 * n2;
  const bool batch = b.transforms < 2 || (b.distance_in_use(true) == volume && b.distance_in_use(false) == volume);
  return packed && batch;
}

template <class T>
int acceptance(const DFTI_DESCRIPTOR* r) {
  const bool takes = common_acceptance(r) && complex_interleaved(r) && working_rank(r) == dimensions;
  return takes ? status_success : status_not_handled;
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* r) {
  block<T>* b = create_block<block<T>>(r);
  if (b == nullptr) return status_allocation_failed;
  b->queue = static_cast<sycl::queue*>(r->queue);
  if (b->queue == nullptr) return status_not_handled;
  b->in_order = r->offload_mode == offload_none ? b->queue->is_in_order() : 0;
  copy_layout(*b, r);

  int arch_status = 0;
  b->architecture = static_cast<std::uint32_t>(gpu::get_architecture(&arch_status, b->queue));
  if (arch_status != 0) return status_not_handled;

  const bool packed = packed_layout(*b);
  b->forward_scale = static_cast<T>(r->fwd_scale);
  b->backward_scale = static_cast<T>(r->bwd_scale);
  if (packed && md_complex::runs_esimd_engine(b->architecture) && try_esimd_strategy(r, *b))
    return status_success;

  bool fused = false;
  if constexpr (std::is_same_v<T, double>) fused = packed && cubic_of(*b, fused_length) && try_fused_strategy(r, *b);
  if (!fused) {
    const int status = plan_children(r, *b);
    if (status != status_success) return status;
  }
  if (r->workspace_internal == 0) return status_success;
  return create_two_part_internal_workspace(r, b->queue, add_workspace<T>, b->internal_persistent, b->internal_scratch,
                                            b->workspace_kind, plan_basics::workspace_internal);
}

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t phase) {
  if (b == nullptr) return;
  if (covers_twiddle_part(phase)) {
    for (int s = 0; s < slot_count; ++s) {
      // A table write still in flight would land in memory that may be
      // released next.
      finish_event(b->table_events[s]);
      b->tables_buffer[s].reset();
      b->tables_usm[s] = nullptr;
    }
    b->internal_persistent.reset();
  }
  if (covers_scratch_part(phase)) b->internal_scratch.reset();
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* r, std::uint32_t phase,
                  void* events) {
  block<T>* b = r != nullptr ? block_of<T>(r) : nullptr;
  if (b == nullptr) return status_invalid_configuration;
  b->workspace = workspace;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  if (b->esimd_plan != nullptr) return esimd_add_workspace(*b, workspace, kind, offset, phase, events);
  bkd_free_buffers(b, phase);

  const bool persistent = covers_twiddle_part(phase);
  const bool scratch = covers_scratch_part(phase);
  if (persistent && b->fused) {
    if constexpr (std::is_same_v<T, double>) {
      const int status = write_fused_tables(*b, workspace, kind, offset, events);
      if (status != status_success) return status;
    }
    offset += r->workspace_bytes[workspace_part_twiddles];
  }
  const std::vector<DFTI_DESCRIPTOR*> children = b->fused ? std::vector<DFTI_DESCRIPTOR*>{} : counted_children(*b);
  if (persistent) {
    for (DFTI_DESCRIPTOR* c : children) {
      const int status = hand_to_child(c, workspace, kind, offset, workspace_part_twiddles, events);
      if (status != status_success) return status;
      offset += c->workspace_bytes[workspace_part_twiddles];
    }
  }
  if (scratch) {
    for (DFTI_DESCRIPTOR* c : children) {
      const int status = hand_to_child(c, workspace, kind, offset, workspace_part_scratch, events);
      if (status != status_success) return status;
    }
  }
  return status_success;
}

template <class T>
int compute_3d_fwd(DFTI_DESCRIPTOR* r, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event) {
  return compute<T>(r, plan_basics::dir_forward, input, output, dependencies, container_kind, result_event);
}

template <class T>
int compute_3d_bwd(DFTI_DESCRIPTOR* r, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event) {
  return compute<T>(r, plan_basics::dir_backward, input, output, dependencies, container_kind, result_event);
}

template <class T>
void bkd_destroy(DFTI_DESCRIPTOR* r) {
  block<T>* b = block_of<T>(r);
  if (b == nullptr) return;
  for (int dim = 0; dim < dimensions; ++dim) {
    DFTI_DESCRIPTOR*& backward = b->children[slot_of(dim, plan_basics::dir_backward)];
    if (backward == b->children[slot_of(dim, plan_basics::dir_forward)]) backward = nullptr;
  }
  for (DFTI_DESCRIPTOR*& child : b->children) {
    if (child != nullptr) child->free(child, child);
    child = nullptr;
  }
  release_kernel_handles(b->kernels);
  bkd_free_buffers(b, workspace_part_both);
  destroy_esimd_plan(*b);
  destroy_block<block<T>>(r);
}

#define QEZ_INSTANTIATE_3D_MAIN(T)                                                                     \
  template bool packed_layout<T>(const block<T>&);                                                     \
  template int acceptance<T>(const DFTI_DESCRIPTOR*);                                                  \
  template int bkd_init<T>(DFTI_DESCRIPTOR*);                                                          \
  template void bkd_free_buffers<T>(block<T>*, std::uint32_t);                                         \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*);    \
  template int compute_3d_fwd<T>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);        \
  template int compute_3d_bwd<T>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);        \
  template void bkd_destroy<T>(DFTI_DESCRIPTOR*);
QEZ_INSTANTIATE_3D_MAIN(float)
QEZ_INSTANTIATE_3D_MAIN(double)
#undef QEZ_INSTANTIATE_3D_MAIN

}  // namespace c2c_3d_main

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_3d_main_gpu_bkd, c2c_3d_main)

}  // namespace ulmara::qez::dft
