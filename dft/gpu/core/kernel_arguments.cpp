#include "dft/gpu/core/kernel_arguments.hpp"

namespace ulmara::qez::dft {

template <sycl::access_mode mode>
void dft_set_arg_with(sycl::handler& cgh, std::uint32_t index, void* argument, std::int64_t kind) {
  const int slot = static_cast<int>(index);
  if (kind == kind_usm_pointer) {
    cgh.set_arg(slot, argument);
    return;
  }
  // The handler keeps the requirement (and the storage) for the life of the
  // command group; the accessor object itself may go.
  auto& buffer = *static_cast<byte_buffer*>(argument);
  sycl::accessor<char, 1, mode, sycl::target::device> access(buffer, cgh);
  cgh.set_arg(slot, access);
}

template void dft_set_arg_with<sycl::access_mode::read>(sycl::handler&, std::uint32_t, void*,
                                                        std::int64_t);
template void dft_set_arg_with<sycl::access_mode::write>(sycl::handler&, std::uint32_t, void*,
                                                         std::int64_t);
template void dft_set_arg_with<sycl::access_mode::read_write>(sycl::handler&, std::uint32_t, void*,
                                                              std::int64_t);

}  // namespace ulmara::qez::dft
