// Two-factor backend: the kernels built at the end of a commit (one per
// served direction, from the embedded program text with the plan's numbers
// as options) and the compute entries that launch them.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/plan.hpp"

namespace ulmara::qez::dft::two_factor {

// The plan's program request (everything its option strings are made of).
template <class T>
program_request request_of(const block<T>& b);

// Formats the names and builds the kernel of every served direction;
// status 7 when a build fails (the block keeps whatever was built).
template <class T>
int build_kernels(block<T>* b);

QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace ulmara::qez::dft::two_factor
