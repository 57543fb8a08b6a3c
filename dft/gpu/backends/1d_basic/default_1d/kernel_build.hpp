// The three kernel templates of the default 1D backend (generated printf
// formats that the commit fills once per pass) and the prelude its programs
// start with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ulmara::qez::dft::default_1d {

enum class kernel_template { registers, staged_registers, generic, shared_memory };

// Values printed into a pass kernel, in template order.
struct pass_arguments {
  const char* kernel_name;
  int do_in_offset, do_out_offset, do_scale, do_twiddle;
  long long tw_size, fact, idist_z, odist_z, idist_y, odist_y, idist_x, odist_x, istride, ostride;
  // Shared-memory template only.
  long long fact1, partition, register_count;
  // Staged register template only: columns per work-group, and the bytes of
  // the device's cache (0: not known) that a launch must outgrow to stream.
  long long columns;
  unsigned long long cache_bytes;
  const char* routine;
  const char* second_routine;  // shared-memory template only
};

// Prints the kernel into `text` (`size` bytes); false when it does not fit.
bool print_pass_kernel(kernel_template which, const pass_arguments& a, char* text, std::size_t size);

// Source lines ahead of the codelet library: the chunk offset is an 8-byte
// kernel argument, and the helpers the templates share.
const char* program_prelude();

}  // namespace ulmara::qez::dft::default_1d
