// Default 1D backend: acceptance, commit body, kernel build, scratch areas
// and release.
#include <sycl/sycl.hpp>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_basic/default_1d/backend.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace default_1d {

namespace {

constexpr std::int32_t largest_batch_rank = 3;
constexpr std::uint32_t bits_per_byte = 8;

template <class T>
block<T>* block_of(const DFTI_DESCRIPTOR* record) {
  return static_cast<block<T>*>(record->bkd_data);
}

// Waits until no submitted compute uses the scratch areas any more.
template <class T>
void wait_for_last_compute(block<T>* b) {
  if (b->last_event != nullptr) b->last_event->wait();
}

template <class T>
void free_usm(block<T>* b, void*& pointer) {
  if (pointer != nullptr) sycl::free(pointer, *b->queue);
  pointer = nullptr;
}

template <class T>
void release_kernels(block<T>* b) {
  for (auto& slot : b->kernels) release_kernel_handles(slot);
}

// ---------------------------------------------------------------------------
// Kernels of one direction.

// The program's source (over a megabyte) is only made when the kernel cache
// does not hold the program yet.
template <class T>
int build_kernel(block<T>* b, const direction_program& p, const char* kernel_name, sycl::kernel** slot) {
  const gpu::source_maker source = [b, &p] { return program_source(*b, p); };
  const int status = build_cached_kernel(
      {b->queue, p.program_name.c_str(), nullptr, kernel_name, p.options.c_str(), &source}, *slot);
  // A build that failed without raising must not leave a kernel to launch.
  if (status != status_success) release_kernel_handle(*slot);
  return status;
}

template <class T>
int build_direction(block<T>* b, std::uint32_t d) {
  if (b->directions != directions_both && b->directions != d) return status_success;
  const direction_program p = describe_program(*b, d);
  if (!p.fits) return status_unimplemented;
  for (int k = 0; k < pass_count; ++k) {
    if (!pass_runs(*b, k)) continue;
    const int status = build_kernel(b, p, b->kernel_names[k], &b->kernels[k][d]);
    if (status != status_success) return status;
  }
  if (!needs_copy_kernel(*b)) return status_success;
  return build_kernel(b, p, copy_kernel_name<T>(), &b->kernels[slot_copy][d]);
}

// ---------------------------------------------------------------------------
// Library-owned scratch.

template <class T>
int allocate_internal_workspace(DFTI_DESCRIPTOR* record, block<T>* b) {
  const std::uint64_t largest = largest_device_allocation(*b->queue);
  void* blocks[area_count] = {nullptr, nullptr};
  for (int i = 0; i < area_count; ++i) {
    const std::uint64_t bytes = record->workspace_bytes[i];
    if (bytes == 0) continue;
    if (bytes <= largest) blocks[i] = sycl::malloc_device(bytes, *b->queue);
    if (blocks[i] != nullptr) continue;
    for (void*& allocated : blocks) free_usm(b, allocated);
    return status_allocation_failed;
  }
  free_usm(b, b->internal_alloc[0]);
  b->internal_alloc[0] = blocks[0];
  const int status = add_workspace<T>(blocks[1], workspace_usm, 0, record, workspace_part_scratch, nullptr);
  b->internal_alloc[1] = blocks[1];
  b->workspace_kind = workspace_internal;
  return status;
}

}  // namespace

// ---------------------------------------------------------------------------
// Backend operations.

bool accepts(const DFTI_DESCRIPTOR* r) {
  // Without a queue there is no device to plan for.
  return r->queue != nullptr && no_fused_twiddle(r) && complex_interleaved(r) && working_rank(r) == 1 &&
         batch_rank(r) <= largest_batch_rank && zero_offsets(r);
}

// The plan depends on the architecture: a device whose architecture cannot
// be read (the lookup fails, or raises for an unrecognised GPU) is declined
// before the record is taken over.
bool architecture_readable(const DFTI_DESCRIPTOR* r) {
  try {
    int status = 0;
    gpu::get_architecture(&status, static_cast<sycl::queue*>(r->queue));
    return status == 0;
  } catch (const std::exception&) {
    return false;
  }
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  block<T>* b = create_block<block<T>>(record);
  if (b == nullptr) return status_allocation_failed;
  // The block keeps its own handle: the record's queue may go first when
  // the descriptor is destroyed.
  b->queue = new sycl::queue(*static_cast<sycl::queue*>(record->queue));
  int status = 0;
  const std::uint32_t arch = gpu::get_architecture(&status, b->queue);
  if (status != 0) return status_not_handled;
  const sycl::device device = b->queue->get_device();
  const std::uint64_t align_bits = device.get_info<sycl::info::device::mem_base_addr_align>();
  const std::uint64_t cache_bytes = device.get_info<sycl::info::device::global_mem_cache_size>();
  record->workspace_bytes[0] = 0;
  record->workspace_bytes[1] =
      fill_plan(*b, request_from_record(record, arch, align_bits / bits_per_byte, cache_bytes));
  for (std::uint32_t d : {dir_forward, dir_backward}) {
    status = build_direction(b, d);
    if (status != status_success) return status;
  }
  if (record->workspace_internal == 0) return status_success;
  return allocate_internal_workspace(record, b);
}


template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t part) {
  wait_for_last_compute(b);
  if (part == workspace_part_twiddles || part == workspace_part_both) free_usm(b, b->internal_alloc[0]);
  if (part == workspace_part_scratch || part == workspace_part_both) {
    for (byte_buffer*& view : b->area_buffer) {
      delete view;
      view = nullptr;
    }
    free_usm(b, b->internal_alloc[1]);
    b->usm_area[area_a] = b->usm_area[area_b] = nullptr;
  }
}

template <class T>
void bkd_destroy(DFTI_DESCRIPTOR* record) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return;
  bkd_free_buffers(b, workspace_part_both);
  release_kernels(b);
  delete b->last_event;
  delete b->queue;
  free_block(b);
  record->bkd_data = nullptr;
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t part,
                  void* /*events*/) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace = workspace;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  bkd_free_buffers(b, part);
  if (part == workspace_part_twiddles || part > workspace_part_both) return status_success;
  std::uint64_t next = offset;
  for (int i = 0; i < area_count; ++i) {
    if (!b->need_area[i]) continue;
    if (kind == workspace_buffer) {
      auto& parent = *static_cast<byte_buffer*>(workspace);
      b->area_buffer[i] = new byte_buffer(parent, sycl::id<1>(next), sycl::range<1>(b->area_bytes));
    } else {
      b->usm_area[i] = static_cast<char*>(workspace) + next;
    }
    next += b->area_bytes;
  }
  return status_success;
}

#define QEZ_INSTANTIATE_BACKEND(T)                                                                   \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);                      \
  template void bkd_free_buffers<T>(block<T>*, std::uint32_t);                                      \
  template void bkd_destroy<T>(DFTI_DESCRIPTOR*);                                                   \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*);
QEZ_INSTANTIATE_BACKEND(float)
QEZ_INSTANTIATE_BACKEND(double)
#undef QEZ_INSTANTIATE_BACKEND

namespace {

int acceptance(DFTI_DESCRIPTOR* record) {
  return accepts(record) && architecture_readable(record) ? status_success : status_not_handled;
}

// Data addresses of a compute call, from the committed block's placement.
template <class T>
std::uint32_t data_arrays(const DFTI_DESCRIPTOR* record) {
  return block_of<T>(record)->in_place != 0 ? 1u : 2u;
}

}  // namespace

QEZ_DEFINE_BACKEND_POLICY(keep_backend_destroy_when_thrown, default_1d::acceptance,
                          create_and_initialize_internal_workspaces<T>, bkd_destroy<T>, compute_1d_fwd<T>,
                          compute_1d_bwd<T>, default_1d::data_arrays<T>)

}  // namespace default_1d

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_default_gpu_bkd, default_1d)

}  // namespace ulmara::qez::dft
