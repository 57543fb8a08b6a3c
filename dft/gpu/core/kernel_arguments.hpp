// Binding of data arguments to prebuilt kernels, for both container kinds a
// backend meets: a USM pointer, or a one-dimensional byte buffer (a caller's
// view, a workspace, a sub-buffer of one). One piece of command-group code
// thereby serves the buffer and the USM form of a compute.
#pragma once

#include <cstdint>

#include <sycl/sycl.hpp>

namespace ulmara::qez::dft {

// Container kind that marks a USM pointer; every other kind is a buffer
// (kind_byte_buffer where a backend names one).
constexpr std::int64_t kind_usm_pointer = 2;
constexpr std::int64_t kind_byte_buffer = 1;

// The byte buffers backends keep data, workspaces and tables in.
using byte_buffer = sycl::buffer<char, 1>;

// Binds `argument` at `index`: kind 2 as a raw 8-byte pointer argument,
// otherwise as a device accessor with `mode` over the whole byte buffer whose
// address `argument` is (the command group then depends on the buffer).
template <sycl::access_mode mode>
void dft_set_arg_with(sycl::handler& cgh, std::uint32_t index, void* argument, std::int64_t kind);

// Read form: an input array at the caller's index.
inline void dft_set_arg(sycl::handler& cgh, std::uint32_t index, void* argument, std::int64_t kind) {
  dft_set_arg_with<sycl::access_mode::read>(cgh, index, argument, kind);
}
// Read form bound at index 0, where every kernel takes its input.
inline void dft_set_arg_input(sycl::handler& cgh, void* argument, std::int64_t kind) {
  dft_set_arg_with<sycl::access_mode::read>(cgh, 0, argument, kind);
}
// Output form: index 1, write only.
inline void dft_set_arg_output(sycl::handler& cgh, void* argument, std::int64_t kind) {
  dft_set_arg_with<sycl::access_mode::write>(cgh, 1, argument, kind);
}
// Output form that also reads: index 1, read-write.
inline void dft_set_arg_inout(sycl::handler& cgh, void* argument, std::int64_t kind) {
  dft_set_arg_with<sycl::access_mode::read_write>(cgh, 1, argument, kind);
}
// Constructed form: a further output at the caller's index, read-write.
inline void dft_set_arg_constructed(sycl::handler& cgh, std::uint32_t index, void* argument,
                                    std::int64_t kind) {
  dft_set_arg_with<sycl::access_mode::read_write>(cgh, index, argument, kind);
}

}  // namespace ulmara::qez::dft
