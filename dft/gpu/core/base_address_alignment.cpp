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
