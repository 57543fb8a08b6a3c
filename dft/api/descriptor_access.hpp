// The front end's view of a descriptor object's members, for the operations
// (configuration, commit, compute) that live outside the class, and of the
// queue a commit stores in the record.
#pragma once

#include "dft/api/descriptor_record.hpp"
#include "ulmara/qez/dft.hpp"

namespace ulmara::qez::dft {

using slot_buffer_type = sycl::buffer<SYCL_DFTI_DESCRIPTOR*, 1>;

struct descriptor_access {
  template <precision p, domain d>
  static DFTI_DESCRIPTOR* record(const descriptor<p, d>& desc) {
    return desc.record_;
  }
  template <precision p, domain d>
  static slot_buffer_type& slot_buffer(descriptor<p, d>& desc) {
    return *desc.slot_buffer_;
  }
};

// Submits the host task that frees the CPU-committed copy held in the slot
// and returns without waiting.
sycl::event cpu_host_free(slot_buffer_type& slot_buffer, sycl::queue& queue);

// The record's heap copy of its commit queue.
inline sycl::queue* record_queue(const DFTI_DESCRIPTOR* record) {
  return static_cast<sycl::queue*>(record->queue);
}
inline void destroy_record_queue(DFTI_DESCRIPTOR* record) {
  delete record_queue(record);
  record->queue = nullptr;
}

// Where a record was last committed.
enum class committed_device { none, gpu, cpu, other };
inline committed_device device_of(const DFTI_DESCRIPTOR* record) {
  const sycl::queue* queue = record_queue(record);
  if (queue == nullptr) return committed_device::none;
  const sycl::device device = queue->get_device();
  if (device.is_gpu()) return committed_device::gpu;
  if (device.is_cpu()) return committed_device::cpu;
  return committed_device::other;
}

}  // namespace ulmara::qez::dft
