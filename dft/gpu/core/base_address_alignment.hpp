// Sizing of consecutive areas inside one device allocation so that each
// next area starts on the device's base-address alignment.
#pragma once

#include <cstdint>

namespace sycl {
inline namespace _V1 {
class queue;
}
}  // namespace sycl

namespace ulmara::qez::dft {

// `bytes` rounded up to a multiple of max(16, a), then advanced by that step
// until it is also a multiple of min(16, a); a is the alignment in bytes.
std::uint64_t pad_to_alignment(std::uint64_t bytes, std::uint64_t alignment_bytes);

// The same with the alignment of the queue's device (its base-address
// alignment is reported in bits).
std::uint64_t pad_to_base_addr_align(std::uint64_t bytes, sycl::queue* queue);

}  // namespace ulmara::qez::dft
