// The bodies of compute_forward and compute_backward: one per container,
// shared by every element type and descriptor kind, since the data travel
// as untyped pointers or as byte views.
#pragma once

#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/api/verbose_descriptor.hpp"

namespace ulmara::qez::dft {

// `in_place_call`: the caller gave one pointer (or buffer), passed here as
// both input and output.
sycl::event compute_usm(DFTI_DESCRIPTOR* record, slot_buffer_type& slot,
                        verbose_direction direction, void* input, void* output,
                        bool in_place_call, const std::vector<sycl::event>& dependencies);
void compute_buffer(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, verbose_direction direction,
                    sycl::buffer<char, 1>& input, sycl::buffer<char, 1>& output,
                    bool in_place_call);

// The host tasks of the CPU road, one per direction, placement and
// container; each runs the CPU copy held in the slot and returns the event
// of its submission. The host task raises nothing: the status of the
// transform is dropped.
sycl::event cpu_host_compute_forward_inplace(slot_buffer_type slot, sycl::queue& queue, void* data,
                                             const std::vector<sycl::event>& dependencies);
sycl::event cpu_host_compute_backward_inplace(slot_buffer_type slot, sycl::queue& queue, void* data,
                                              const std::vector<sycl::event>& dependencies);
sycl::event cpu_host_compute_forward_outofplace(slot_buffer_type slot, sycl::queue& queue,
                                                void* input, void* output,
                                                const std::vector<sycl::event>& dependencies);
sycl::event cpu_host_compute_backward_outofplace(slot_buffer_type slot, sycl::queue& queue,
                                                 void* input, void* output,
                                                 const std::vector<sycl::event>& dependencies);
sycl::event cpu_host_compute_forward_inplace(slot_buffer_type slot, sycl::queue& queue,
                                             sycl::buffer<char, 1>& data);
sycl::event cpu_host_compute_backward_inplace(slot_buffer_type slot, sycl::queue& queue,
                                              sycl::buffer<char, 1>& data);
sycl::event cpu_host_compute_forward_outofplace(slot_buffer_type slot, sycl::queue& queue,
                                                sycl::buffer<char, 1>& input,
                                                sycl::buffer<char, 1>& output);
sycl::event cpu_host_compute_backward_outofplace(slot_buffer_type slot, sycl::queue& queue,
                                                 sycl::buffer<char, 1>& input,
                                                 sycl::buffer<char, 1>& output);

// The caller's buffer seen as bytes: same memory object, offset and
// sub-buffer flag.
template <class T>
sycl::buffer<char, 1> byte_view(sycl::buffer<T, 1>& buffer) {
  return buffer.template reinterpret<char, 1>(sycl::range<1>(buffer.size() * sizeof(T)));
}

}  // namespace ulmara::qez::dft
