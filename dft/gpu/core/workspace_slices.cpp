#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft {

byte_buffer* workspace_sub_buffer(byte_buffer& parent, std::uint64_t offset, std::uint64_t bytes) {
  return new byte_buffer(parent, sycl::id<1>(offset), sycl::range<1>(bytes),
                         sycl::detail::code_location(__FILE__, "add_workspace", __LINE__, 0));
}

void release_view(byte_buffer*& view) {
  try {
    delete view;
  } catch (...) {
    // The view is gone for the block either way.
  }
  view = nullptr;
}

void keep_event(sycl::event*& slot, const sycl::event& e) {
  delete slot;
  slot = new sycl::event(e);
}

}  // namespace ulmara::qez::dft
