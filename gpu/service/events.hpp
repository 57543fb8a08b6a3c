// Events of the GPU service layer: every launch and merge returns a heap
// sycl::event that the caller frees exactly once, with release_event or by
// handing it to a merge, which takes the listed events over.
#pragma once

#include <sycl/sycl.hpp>

#include "gpu/service/kernel_types.hpp"

namespace ulmara::qez::gpu {

// One barrier event over the list's events, which are freed (null entries
// are skipped). A null list, or the buffer form with no_dependencies set,
// gives a complete event and leaves the list alone.
sycl::event* coalesce_events(int* status, sycl::queue* queue, qez_gpu_event_list_t* list);
sycl::event* coalesce_events_usm(int* status, sycl::queue* queue, qez_gpu_event_list_t* list);

// Null does nothing.
void release_event(int* status, sycl::event* event);
void release_event_usm(int* status, sycl::event* event);
// Waits for the event (without raising asynchronous errors); null returns at once.
void host_wait(int* status, sycl::event* event);
void host_wait_usm(int* status, sycl::event* event);

}  // namespace ulmara::qez::gpu
