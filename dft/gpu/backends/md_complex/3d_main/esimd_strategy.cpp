// Strategy 1 of the 3D main backend: the ESIMD two-factor engine, for
// packed layouts on Harix and Nopra (bkd_init has checked both). Until the
// engine's plan is wired in here, try_esimd_strategy reports that it does
// not fit and bkd_init goes on to the next strategy. What each hook does
// once it is:
//   try_esimd_strategy   build an esimd_2_facts_plan<T> of lengths {N0, N1,
//                        N2}, the backward scale, the transforms, distances
//                        N0 N1 N2, strides {1, N0, N0 N1}, no LSC API; set
//                        the forward scale and the internal-workspace flag
//                        (workspace mode 1); commit it on b.queue. On 0 keep
//                        it in b.esimd_plan, publish its two workspace sizes
//                        in the record and return true (the plan owns its
//                        internal workspaces); otherwise destroy it, false.
//   esimd_add_workspace  hand the workspace to the plan (phase capped at 3);
//                        a byte buffer as a buffer of T, USM as a pointer.
//   esimd_compute        check the container kind (plan encoding: 0 USM,
//                        1 buffer, 2 other; a mismatch is 5), then run the
//                        direction's compute on buffers of T or on USM with
//                        the caller's dependencies; its event is the result.
//   esimd_follow_queue   give the plan b.queue (asynchronous offload).
//   destroy_esimd_plan   destroy and free the plan, clear b.esimd_plan.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace c2c_3d_main {

template <class T>
bool try_esimd_strategy(DFTI_DESCRIPTOR* /*record*/, block<T>& /*b*/) {
  return false;
}

template <class T>
int esimd_add_workspace(block<T>& /*b*/, void* /*workspace*/, int /*kind*/, std::uint64_t /*offset*/,
                        std::uint32_t /*phase*/, void* /*events*/) {
  return status_success;
}

template <class T>
int esimd_compute(DFTI_DESCRIPTOR* /*record*/, block<T>& /*b*/, frame::direction /*d*/, void* /*input*/,
                  void* /*output*/, void* /*dependencies*/, std::uint64_t* /*container_kind*/,
                  void* /*result_event*/) {
  return status_bad_descriptor;
}

template <class T>
void esimd_follow_queue(block<T>& /*b*/) {}

template <class T>
void destroy_esimd_plan(block<T>& b) {
  b.esimd_plan = nullptr;
}

#define QEZ_INSTANTIATE_ESIMD_HOOKS(T)                                                                   \
  template bool try_esimd_strategy<T>(DFTI_DESCRIPTOR*, block<T>&);                                      \
  template int esimd_add_workspace<T>(block<T>&, void*, int, std::uint64_t, std::uint32_t, void*);       \
  template int esimd_compute<T>(DFTI_DESCRIPTOR*, block<T>&, frame::direction, void*, void*, void*,      \
                                std::uint64_t*, void*);                                                  \
  template void esimd_follow_queue<T>(block<T>&);                                                        \
  template void destroy_esimd_plan<T>(block<T>&);
QEZ_INSTANTIATE_ESIMD_HOOKS(float)
QEZ_INSTANTIATE_ESIMD_HOOKS(double)
#undef QEZ_INSTANTIATE_ESIMD_HOOKS

}  // namespace c2c_3d_main
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
