// Scratch memory for kernels: SYCL buffers for the buffer road and device
// USM blocks for the USM road. The caller owns what it gets until the
// matching free. The status argument is neither read nor written.
#pragma once

#include <cstddef>

#include <sycl/sycl.hpp>

namespace ulmara::qez::gpu {

using temp_buffer = sycl::buffer<char, 1>;

temp_buffer* alloc_temp_buffer(int* status, sycl::queue* queue, std::size_t size);
// Zero-filled; returns after the fill has completed. A failing fill frees
// the buffer before its error leaves.
temp_buffer* calloc_temp_buffer(int* status, sycl::queue* queue, std::size_t size);
void free_buffer(int* status, temp_buffer* buffer);
// Buffers made by alloc_temp_buffer and not yet freed (leak checks).
std::size_t live_temp_buffers();

// Null when the allocation fails.
char* alloc_temp_buffer_usm(int* status, sycl::queue* queue, std::size_t size);
// Zero-filled; returns after the memset has completed. A failing memset
// frees the block before its error leaves.
char* calloc_temp_buffer_usm(int* status, sycl::queue* queue, std::size_t size);
// No wait: no kernel may still use the block.
void free_buffer_usm(int* status, char* pointer, sycl::queue* queue);

}  // namespace ulmara::qez::gpu
