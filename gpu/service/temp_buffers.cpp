// Temporary device buffers and USM blocks.
#include "gpu/service/temp_buffers.hpp"

#include <atomic>
#include <memory>

#include "gpu/service/code_location.hpp"

namespace ulmara::qez::gpu {

namespace {

std::atomic<std::size_t> live_buffers{0};

// Frees a buffer whose zero-fill failed, so that the error leaves nothing behind.
struct buffer_freer {
  void operator()(temp_buffer* buffer) const {
    int status = 0;
    free_buffer(&status, buffer);
  }
};

}  // namespace

temp_buffer* alloc_temp_buffer(int*, sycl::queue*, std::size_t size) {
  auto* buffer = new temp_buffer(sycl::range<1>(size));
  ++live_buffers;
  return buffer;
}

temp_buffer* calloc_temp_buffer(int* status, sycl::queue* queue, std::size_t size) {
  std::unique_ptr<temp_buffer, buffer_freer> buffer(alloc_temp_buffer(status, queue, size));
  queue
      ->submit(
          [&](sycl::handler& cgh) {
            sycl::accessor<char, 1, sycl::access_mode::write> bytes(*buffer, cgh);
            cgh.fill(bytes, char{0});
          },
          submitted_by("calloc_temp_buffer"))
      .wait_and_throw();
  return buffer.release();
}

void free_buffer(int*, temp_buffer* buffer) {
  if (buffer == nullptr) return;
  --live_buffers;
  try {
    delete buffer;
  } catch (...) {
    // The runtime's errors while it releases the memory are of no use here.
  }
}

std::size_t live_temp_buffers() { return live_buffers.load(); }

char* alloc_temp_buffer_usm(int*, sycl::queue* queue, std::size_t size) {
  return static_cast<char*>(sycl::malloc_device(size, queue->get_device(), queue->get_context(), {}));
}

char* calloc_temp_buffer_usm(int* status, sycl::queue* queue, std::size_t size) {
  char* pointer = alloc_temp_buffer_usm(status, queue, size);
  if (pointer == nullptr) return nullptr;
  try {
    queue->memset(pointer, 0, size, std::vector<sycl::event>{}, submitted_by("calloc_temp_buffer_usm"))
        .wait_and_throw();
  } catch (...) {
    free_buffer_usm(status, pointer, queue);
    throw;
  }
  return pointer;
}

void free_buffer_usm(int*, char* pointer, sycl::queue* queue) { sycl::free(pointer, queue->get_context()); }

}  // namespace ulmara::qez::gpu
