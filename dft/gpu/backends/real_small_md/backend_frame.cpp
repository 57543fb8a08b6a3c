#include "dft/gpu/backends/real_small_md/backend_frame.hpp"

#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/first_tests.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace frame {

namespace {

bool complex_in_real_real_storage(const DFTI_DESCRIPTOR* r) {
  return r->domain == dfti_complex && r->complex_storage == dfti_real_real;
}

}  // namespace

bool common_acceptance(const DFTI_DESCRIPTOR* r) {
  return no_fused_twiddle(r) && batch_rank(r) == 1 && zero_offsets(r);
}

std::uint32_t container_count(const DFTI_DESCRIPTOR* r) {
  const std::uint32_t arrays = r->placement == dfti_inplace ? 1u : 2u;
  return complex_in_real_real_storage(r) ? 2 * arrays : arrays;
}

bool wants(std::uint32_t directions, direction d) {
  if (directions == directions_both) return true;
  return directions == (d == dir_forward ? directions_forward : directions_backward);
}

int workspace_status(const DFTI_DESCRIPTOR* r, const void* internal_persistent,
                     const void* internal_scratch, std::uint32_t recorded_kind) {
  const bool given = (recorded_kind & (buffer_form_bit | usm_form_bit)) != 0;
  return workspace_status_before_compute(r, internal_persistent, internal_scratch, given);
}

// ---------------------------------------------------------------------------

bool device_area::allocate(sycl::queue& queue, std::uint64_t bytes) {
  reset();
  if (bytes == 0) return true;
  pointer_ = sycl::malloc_device(static_cast<size_t>(bytes), queue);
  if (pointer_ == nullptr) return false;
  queue_.emplace(queue);
  return true;
}

void device_area::reset() {
  if (pointer_ != nullptr && queue_) {
    try {
      sycl::free(pointer_, *queue_);
    } catch (const sycl::exception&) {
      // The area is given up either way.
    }
  }
  pointer_ = nullptr;
  queue_.reset();
}

void device_area::adopt(device_area& other) {
  if (&other == this) return;
  reset();
  pointer_ = other.pointer_;
  queue_ = std::move(other.queue_);
  other.pointer_ = nullptr;
  other.queue_.reset();
}

void wait_all(event_list& events) {
  for (sycl::event& e : events) e.wait();
  events.clear();
}

namespace {

// One part of the internal workspace: allocate, hand over, keep.
int make_internal_part(DFTI_DESCRIPTOR* r, const backend_table& self, sycl::queue& queue,
                       workspace_part part, device_area& slot, event_list& events) {
  const std::uint64_t bytes = r->workspace_bytes[part];
  const std::uint64_t largest = queue.get_device().get_info<sycl::info::device::max_mem_alloc_size>();
  if (bytes > largest) return status_allocation_failed;
  device_area area;
  if (!area.allocate(queue, bytes)) return status_allocation_failed;
  const int status = self.add_workspace(area.get(), kind_usm_workspace, 0, r, part, &events);
  // add_workspace released what the same part held before; the new area
  // takes its place whatever the status.
  slot.adopt(area);
  return status;
}

}  // namespace

int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* r, const backend_table& self,
                                              sycl::queue& queue, internal_workspace_slots slots) {
  if (r->workspace_internal == 0) return status_bad_descriptor;
  if (r->bkd_data == nullptr) return status_invalid_configuration;
  event_list events;
  int status = make_internal_part(r, self, queue, workspace_part_twiddles, slots.persistent, events);
  if (status == status_success) {
    status = make_internal_part(r, self, queue, workspace_part_scratch, slots.scratch, events);
    slots.recorded_kind = workspace_kind_internal;
  }
  wait_all(events);
  return status;
}

// ---------------------------------------------------------------------------

void* allocate_block_memory(std::size_t bytes) { return allocate_zeroed_block(bytes); }
void free_block_memory(void* block) { free_block(block); }

int guarded_init(int (*init)(DFTI_DESCRIPTOR*), DFTI_DESCRIPTOR* record) {
  try {
    return init(record);
  } catch (const std::bad_alloc&) {
    return status_allocation_failed;
  } catch (const sycl::exception&) {
    return status_internal_error;
  }
}

}  // namespace frame
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
