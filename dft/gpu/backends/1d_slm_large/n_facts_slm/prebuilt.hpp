// Prebuilt native kernels of the float instance: two fixed plans (4096 =
// 8x8x8x8 and 8192 = 8x8x8x16), one image per direction, that replace the
// compiled kernel on Nivolo queues of drivers 1.6.x.
//
// This build carries no images: each entry names its kernel and the image
// size it expects, with no bytes. Selection still runs; loading an entry
// without bytes is refused, the direction is unflagged and the compiled
// program serves it, exactly as when the driver refuses an image.
#pragma once

#include <cstdint>
#include <string>

#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"
#include "gpu/service/kernel_types.hpp"

namespace ulmara::qez::dft::n_facts_slm {

struct prebuilt_kernel {
  const char* name;
  std::int64_t length;
  std::int64_t fact[factor_count];
  direction d;
  std::uint64_t expected_image_bytes;
  gpu::qez_gpu_binary_kernel_t image;  // size 0: not carried by this build
};

// What the selection looks at.
struct prebuilt_query {
  std::uint32_t queue_backend;
  std::string driver_version;
  std::int64_t length;
  std::int64_t fact[factor_count];
  std::int64_t idist, odist;
  direction d;
};

// The entry that would serve the query, or null.
const prebuilt_kernel* select_prebuilt_kernel(const prebuilt_query& q);

// Loads the entry's image on the queue into `handle`: 0, or a non-zero
// status (always for an entry without image bytes) with `handle` empty.
int load_prebuilt_kernel(const prebuilt_kernel& k, sycl::queue* queue, prebuilt_handle& handle);

}  // namespace ulmara::qez::dft::n_facts_slm
