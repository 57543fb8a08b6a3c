// What the backends ask of a device's sub-group sizes while they plan.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

namespace ulmara::qez::dft {

// The device's sub-group sizes.
inline std::vector<std::size_t> sub_group_sizes_of(const sycl::device& device) {
  return device.get_info<sycl::info::device::sub_group_sizes>();
}

// The device offers sub-groups of `size` work-items.
inline bool offers_sub_group_size(const sycl::device& device, std::size_t size) {
  const std::vector<std::size_t> sizes = sub_group_sizes_of(device);
  return std::find(sizes.begin(), sizes.end(), size) != sizes.end();
}

// The smallest sub-group size the device offers; 0 when it offers none.
inline std::uint64_t smallest_sub_group_size(const sycl::device& device) {
  const std::vector<std::size_t> sizes = sub_group_sizes_of(device);
  return sizes.empty() ? 0 : static_cast<std::uint64_t>(*std::min_element(sizes.begin(), sizes.end()));
}

}  // namespace ulmara::qez::dft
