// Kernel objects of a backend's block: built through the kernel cache from
// a program text and options, and given back with release_kernel_obj.
#pragma once

#include <sycl/sycl.hpp>

#include "gpu/service/kernel_entry_points.hpp"

namespace ulmara::qez::dft {

// Gives a kernel back to the kernel cache. A failing release is dropped
// (the kernel is gone for the block either way); the slot is cleared; null
// is left alone.
void release_kernel_handle(sycl::kernel*& kernel);

// Releases every slot of an array of kernel handles.
template <std::size_t count>
void release_kernel_handles(sycl::kernel* (&kernels)[count]) {
  for (sycl::kernel*& k : kernels) release_kernel_handle(k);
}

// The release_kernels step of a block that keeps its handles in one array
// `kernels` (destroy_block_and_kernels calls it); a block that holds more
// has a release_kernels of its own beside its type.
template <class Block>
void release_kernels(Block* b) {
  release_kernel_handles(b->kernels);
}

// One kernel of one program build.
struct cached_kernel_request {
  sycl::queue* queue;
  const char* program_name;  // cache key of the program
  const char* source;        // program text
  const char* kernel_name;
  const char* options;
  // When set, makes the program text instead of `source`, only when the
  // program is not in the cache yet.
  const gpu::source_maker* make_source = nullptr;
};

// What makes a build succeed: the cache's status 0 and a kernel, or a
// kernel alone (the status is not looked at).
enum class build_check { status_and_kernel, kernel_only };

// Builds (or finds) the kernel into `slot`; 0, or 7 when the check fails.
// Whatever the cache returned stays in the slot, for the block's release;
// exceptions of the build pass through.
int build_cached_kernel(const cached_kernel_request& request, sycl::kernel*& slot,
                        build_check check = build_check::status_and_kernel);

}  // namespace ulmara::qez::dft
