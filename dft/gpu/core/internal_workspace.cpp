#include "dft/gpu/core/internal_workspace.hpp"

#include "dft/api/status_codes.hpp"

namespace ulmara::qez::dft {

std::uint64_t largest_device_allocation(const sycl::queue& queue) {
  return queue.get_device().get_info<sycl::info::device::max_mem_alloc_size>();
}

void free_device_area_after_queue(sycl::queue& queue, void*& area) {
  if (area == nullptr) return;
  queue.wait();
  sycl::free(area, queue);
  area = nullptr;
}

void finish_event(sycl::event*& slot) {
  if (slot == nullptr) return;
  slot->wait();
  delete slot;
  slot = nullptr;
}

int internal_allocation::allocate(std::uint64_t bytes, std::uint64_t largest) {
  if (bytes == 0) return status_success;
  if (bytes > largest) return status_allocation_failed;
  area_ = sycl::malloc_device(bytes, *queue_);
  return area_ == nullptr ? status_allocation_failed : status_success;
}

int internal_allocation::allocate(std::uint64_t bytes) {
  if (bytes == 0) return status_success;
  return allocate(bytes, largest_device_allocation(*queue_));
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

void device_area::adopt(sycl::queue& queue, void* pointer) {
  reset();
  if (pointer == nullptr) return;
  pointer_ = pointer;
  queue_.emplace(queue);
}

}  // namespace ulmara::qez::dft
