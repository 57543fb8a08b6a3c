// The kernel cache keeps every program it builds for the life of the
// process. Sizes, strides and distances are build options of the GPU
// programs, so a fuzz run that commits thousands of distinct layouts would
// keep thousands of programs (about a megabyte each in the driver) and
// outgrow any memory limit. Between inputs, once the cache holds more than
// a few hundred programs, a harness empties it as the process's teardown
// does; later inputs build into a new table. No kernel is held then: every
// descriptor of an input is gone when the input ends.
#pragma once

#include <cstddef>

#include "gpu/service/kernel_cache.hpp"

namespace qez_fuzz {

inline void bound_kernel_cache(std::size_t most_programs = 256) {
  if (ulmara::qez::gpu::kernel_cache_entry_count() > most_programs) ulmara::qez::gpu::free_kernel_cache();
}

}  // namespace qez_fuzz
