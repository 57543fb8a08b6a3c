#include "dft/gpu/core/base_address_alignment.hpp"

#include <algorithm>

namespace ulmara {
namespace qez {
namespace dft {
namespace {
constexpr std::uint64_t minimum_step = 16;
}

std::uint64_t pad_to_alignment(std::uint64_t bytes, std::uint64_t alignment_bytes) {
  const std::uint64_t a = std::max<std::uint64_t>(alignment_bytes, 1);
  const std::uint64_t step = std::max(minimum_step, a);
  const std::uint64_t fine = std::min(minimum_step, a);
  std::uint64_t padded = (bytes + step - 1) / step * step;
  while (padded % fine != 0) padded += step;
  return padded;
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara

#include <sycl/sycl.hpp>

namespace ulmara {
namespace qez {
namespace dft {

std::uint64_t pad_to_base_addr_align(std::uint64_t bytes, sycl::queue* queue) {
  constexpr std::uint64_t bits_per_byte = 8;
  const std::uint64_t alignment_bits =
      queue->get_device().get_info<sycl::info::device::mem_base_addr_align>();
  return pad_to_alignment(bytes, alignment_bits / bits_per_byte);
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
