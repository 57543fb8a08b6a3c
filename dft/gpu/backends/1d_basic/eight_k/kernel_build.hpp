// Kernel names and build options of the 8192-point backend's program.
#pragma once

#include <string>

#include "dft/gpu/backends/1d_basic/eight_k/plan.hpp"

namespace ulmara::qez::dft::eight_k {

constexpr std::size_t build_options_bytes = 1024;

// Cut to build_options_bytes - 1 characters should it ever be longer.
struct build_options {
  std::string text;
};

// Pass kernels "fft_8192_fact_128_<d|s>", "fft_8192_fact_64_<d|s>" and the
// codelets of the four factors into the block's names.
template <class T>
void format_kernel_names(block<T>* b);

// The options of one direction's build (the names must be formatted).
template <class T>
build_options format_build_options(const block<T>* b, direction d);

}  // namespace ulmara::qez::dft::eight_k
