// Default one-dimensional complex backend: the last real entry of both
// rank-1 complex lists. It takes every interleaved rank-1 complex transform
// with up to three batch dimensions and zero offsets, splits the length into
// at most four factors and runs one self-sorting pass kernel per factor
// (lengths 75 and 135: one shared-local-memory kernel).
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_basic/default_1d/plan.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"

namespace ulmara::qez::dft::default_1d {

// The record fields the backend accepts by; nothing is touched.
bool accepts(const DFTI_DESCRIPTOR* record);

// add_workspace<T>; create_and_initialize_internal_workspaces<T>, the
// commit body (private block, plan, kernels, library-owned scratch);
// bkd_free_buffers<T>, part 0 or 2: the first library block, part 1 or 2:
// the scratch areas.
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()
// Frees the private block of a failed or released commit.
template <class T>
void bkd_destroy(DFTI_DESCRIPTOR* record);

// Compute entries stored in the record.
QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace ulmara::qez::dft::default_1d
