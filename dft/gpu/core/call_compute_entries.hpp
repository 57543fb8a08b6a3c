// Compute entries of a backend whose compute routine reads the call as a
// compute_call: each entry follows the descriptor's queue first, then hands
// the call of its direction to the routine.
#pragma once

#include "dft/gpu/core/compute_dispatch.hpp"

// Defines compute_1d_fwd<T> and compute_1d_bwd<T> in the current namespace
// (instantiated for float and double) as calls of
// `compute<T>(record, call, result_event)` with the directions `forward`
// and `backward`; the block `block_of<T>(record)` follows the descriptor's
// queue before that.
#define QEZ_DEFINE_CALL_COMPUTE_ENTRIES(compute, forward, backward)                                           \
  template <class T>                                                                                          \
  int compute_call_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,              \
                         std::uint64_t* container_kind, void* result_event, decltype(forward) d) {            \
    follow_descriptor_queue(record, block_of<T>(record));                                                     \
    return compute<T>(record, compute_call_of(d, input, output, dependencies, container_kind), result_event); \
  }                                                                                                           \
  QEZ_DEFINE_COMPUTE_ENTRIES(compute_call_entry<T>, forward, backward)
