// Library-owned device memory of a backend's internal workspace: the
// largest allocation the device allows, a RAII allocation that is freed
// (after the queue's work) unless the block takes it over, and the freeing
// of an area the block owns.
#pragma once

#include <cstdint>

#include <sycl/sycl.hpp>

namespace ulmara {
namespace qez {
namespace dft {

// The device's max_mem_alloc_size.
std::uint64_t largest_device_allocation(const sycl::queue& queue);

// Frees a USM area the block owns once the queue's work is done (the work
// may still read it); clears the pointer. Nothing happens for null.
void free_device_area_after_queue(sycl::queue& queue, void*& area);

// Waits for a heap event a block keeps, deletes it and clears the slot.
void finish_event(sycl::event*& slot);

// A fresh internal area: freed (after the queue's work) unless release()
// hands it to the block.
class internal_allocation {
 public:
  explicit internal_allocation(sycl::queue* queue) : queue_(queue) {}
  internal_allocation(const internal_allocation&) = delete;
  internal_allocation& operator=(const internal_allocation&) = delete;
  ~internal_allocation() { free_device_area_after_queue(*queue_, area_); }

  // 0 bytes: nothing, success; more than `largest` (or a refusal): 1.
  int allocate(std::uint64_t bytes, std::uint64_t largest);
  // The same against the device's own largest allocation.
  int allocate(std::uint64_t bytes);
  void* get() const { return area_; }
  void* release() {
    void* area = area_;
    area_ = nullptr;
    return area;
  }

 private:
  sycl::queue* queue_;
  void* area_ = nullptr;
};

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
