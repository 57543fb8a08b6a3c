// Commit of a descriptor to a queue: layout checks, release of an earlier
// commitment, then the GPU descriptor core (GPU devices) or a CPU copy of
// the configuration committed inside a host task (other devices).
#pragma once

#include <cstdint>

#include "dft/api/descriptor_access.hpp"

namespace ulmara::qez::dft {

// The whole commit; throws on every failure.
void commit_descriptor(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, sycl::queue& queue);

// In-place complex descriptors have one layout for both domains: completes
// the side that was not set from the one that was; false when both were set
// and differ.
bool check_inplace_complex_strides(DFTI_DESCRIPTOR* record);

// Waits for the work of the record's previous queue, releases what the
// previous commitment holds and forgets the queue. 0, or the status of a
// failing backend release.
std::int32_t synchronize_queue_and_cleanup_old(slot_buffer_type& slot, DFTI_DESCRIPTOR* record);

std::int64_t gpu_commit(DFTI_DESCRIPTOR* record);
std::int64_t cpu_host_commit(DFTI_DESCRIPTOR* record, slot_buffer_type& slot, sycl::queue& queue);

// The device checks of gpu_commit, on their own: 2 when the precision needs
// fp64 the device lacks; 6 when one side of the transform exceeds 2^32
// scalars (a product that overflows counts as too large) or when its strides
// and distances reach byte offsets beyond 64 bits; 2 for a length or a
// number of transforms below 1; else 0.
std::int64_t gpu_precision_status(std::uint32_t precision, bool device_has_fp64);
std::int64_t gpu_size_limit_status(const DFTI_DESCRIPTOR* record);

}  // namespace ulmara::qez::dft
