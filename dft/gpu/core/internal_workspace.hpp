// Library-owned device memory of a backend's internal workspace: the
// largest allocation the device allows, a RAII allocation that is freed
// (after the queue's work) unless the block takes it over, the freeing of
// an area the block owns, and device_area, an area a block owns as a RAII
// member.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <sycl/sycl.hpp>

namespace ulmara::qez::dft {

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
  sycl::queue& queue() const { return *queue_; }
  void* release() {
    void* area = area_;
    area_ = nullptr;
    return area;
  }

 private:
  sycl::queue* queue_;
  void* area_ = nullptr;
};

// Device memory a block owns as a member: a USM device allocation freed on
// the queue it was made on when the area is reset or destroyed.
class device_area {
 public:
  device_area() = default;
  ~device_area() { reset(); }
  device_area(const device_area&) = delete;
  device_area& operator=(const device_area&) = delete;

  void reset();
  // Takes over `pointer`, made on `queue` (null leaves the area empty),
  // releasing its own area first.
  void adopt(sycl::queue& queue, void* pointer);
  void* get() const { return pointer_; }

 private:
  void* pointer_ = nullptr;
  std::optional<sycl::queue> queue_;
};

// A block keeps a fresh internal area: in a plain slot (the block frees it
// with free_device_area_after_queue) or in a device_area.
inline void keep_internal_area(void*& slot, internal_allocation& area) { slot = area.release(); }
inline void keep_internal_area(device_area& slot, internal_allocation& area) {
  sycl::queue& queue = area.queue();
  slot.adopt(queue, area.release());
}

// Events the table writers of one add_workspace call append to (the
// `events` argument of add_workspace).
using event_list = std::vector<sycl::event>;

}  // namespace ulmara::qez::dft
