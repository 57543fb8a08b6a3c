// The ESIMD strategy of the 2D main backend: the two-factor ESIMD plan for
// dense layouts. Everything the backend does with the plan goes through
// these functions; the block holds the plan as an opaque pointer.
#pragma once

#include <cstdint>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"

namespace ulmara::qez::dft::c2c_2d_main {

// Plans the record with the ESIMD engine. Taken: the block's esimd_plan is
// set and the record's workspace sizes are the plan's; otherwise nothing is
// left behind and the next strategy is tried.
template <class T>
bool try_esimd_strategy(block& b, DFTI_DESCRIPTOR* record);

// Destroys and frees the block's plan (nothing when there is none).
void destroy_esimd_plan(block& b);

// add_workspace of the ESIMD strategy: hands the workspace to the plan.
int esimd_add_workspace(block& b, void* workspace, int kind, std::uint64_t offset,
                        std::uint32_t phase, void* events);

// The plan follows a new queue (asynchronous offload mode).
void esimd_set_queue(block& b, sycl::queue* queue);

// One compute of the plan in the direction, from the front end's
// container-kind word; the status of the call.
template <class T>
int esimd_compute(block& b, void* input, void* output, void* dependencies, std::uint64_t container_kind,
                  void* result_event, plan_basics::direction d);

}  // namespace ulmara::qez::dft::c2c_2d_main
