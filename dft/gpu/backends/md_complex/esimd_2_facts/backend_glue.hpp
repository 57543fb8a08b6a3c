// What the backends that own an ESIMD plan (2D and 3D main) do with it, in
// the terms of a descriptor record: plan a packed batch and publish its
// workspace sizes, hand it a workspace from add_workspace, and run a compute
// from the front end's arguments.
#pragma once

#include <cstdint>
#include <vector>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/plan.hpp"

namespace ulmara::qez::dft::esimd_2_facts {

// A committed plan for `transforms` packed transforms of `lengths`
// (innermost first, both distances their product), with the record's scales
// and workspace mode; the record's part-0 and part-1 workspace bytes become
// the plan's. Null when the plan does not take the problem (the record is
// then unchanged).
template <class T>
esimd_2_facts_plan<T>* commit_packed_plan(DFTI_DESCRIPTOR* record, sycl::queue* queue,
                                          const std::vector<std::int64_t>& lengths, std::uint64_t transforms);

// add_workspace: kind 1 a byte buffer (viewed as a buffer of T), any other
// kind USM; `events` a std::vector<sycl::event>* or null. Returns 0.
template <class T>
int attach_workspace(esimd_2_facts_plan<T>& plan, void* workspace, int kind, std::uint64_t offset,
                     std::uint32_t phase, void* events);

// A compute in `direction` (0 forward, 1 backward) with the front end's
// container kind (1 byte buffers, 2 USM): 5 when the plan holds no tables
// of that kind; `dependencies` a std::vector<sycl::event>* or null (USM only),
// `result_event` a sycl::event* or null.
template <class T>
int compute_with_plan(esimd_2_facts_plan<T>& plan, int direction, void* input, void* output, void* dependencies,
                      std::uint64_t container_kind, void* result_event);

}  // namespace ulmara::qez::dft::esimd_2_facts
