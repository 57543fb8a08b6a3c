// Strategy 1 of the 3D main backend: the ESIMD two-factor engine, for
// packed layouts on Harix and Nopra (bkd_init checks both before calling).
// The plan makes its own internal workspace, takes the caller's workspace in
// add_workspace and runs the computes (the engine's backend glue does the
// record-level work).
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/backend_glue.hpp"

namespace ulmara::qez::dft::c2c_3d_main {

namespace {
template <class T>
esimd_2_facts_plan<T>* plan_of(const block<T>& b) {
  return static_cast<esimd_2_facts_plan<T>*>(b.esimd_plan);
}
}  // namespace

template <class T>
bool try_esimd_strategy(DFTI_DESCRIPTOR* record, block<T>& b) {
  const std::vector<std::int64_t> lengths = {b.dirs[0].length, b.dirs[1].length, b.dirs[2].length};
  try {
    esimd_2_facts_plan<T>* plan =
        esimd_2_facts::commit_packed_plan<T>(record, b.queue, lengths, static_cast<std::uint64_t>(b.transforms));
    b.esimd_plan = plan;
    return plan != nullptr;
  } catch (const sycl::exception&) {
    return false;  // a strategy whose set-up fails is abandoned
  }
}

template <class T>
int esimd_add_workspace(block<T>& b, void* workspace, int kind, std::uint64_t offset, std::uint32_t phase,
                        void* events) {
  return esimd_2_facts::attach_workspace(*plan_of(b), workspace, kind, offset, phase, events);
}

template <class T>
int esimd_compute(DFTI_DESCRIPTOR* /*record*/, block<T>& b, plan_basics::direction d, void* input, void* output,
                  void* dependencies, std::uint64_t* container_kind, void* result_event) {
  const std::uint64_t kind = container_kind != nullptr ? *container_kind : 2;
  return esimd_2_facts::compute_with_plan(*plan_of(b), d == plan_basics::dir_forward ? 0 : 1, input, output, dependencies,
                                          kind, result_event);
}

// The block's queue was refreshed from the record (asynchronous offload).
template <class T>
void esimd_follow_queue(block<T>& b) {
  plan_of(b)->set_queue(b.queue);
}

template <class T>
void destroy_esimd_plan(block<T>& b) {
  delete plan_of(b);
  b.esimd_plan = nullptr;
}

#define QEZ_INSTANTIATE_ESIMD_HOOKS(T)                                                                   \
  template bool try_esimd_strategy<T>(DFTI_DESCRIPTOR*, block<T>&);                                      \
  template int esimd_add_workspace<T>(block<T>&, void*, int, std::uint64_t, std::uint32_t, void*);       \
  template int esimd_compute<T>(DFTI_DESCRIPTOR*, block<T>&, plan_basics::direction, void*, void*, void*,      \
                                std::uint64_t*, void*);                                                  \
  template void esimd_follow_queue<T>(block<T>&);                                                        \
  template void destroy_esimd_plan<T>(block<T>&);
QEZ_INSTANTIATE_ESIMD_HOOKS(float)
QEZ_INSTANTIATE_ESIMD_HOOKS(double)
#undef QEZ_INSTANTIATE_ESIMD_HOOKS

}  // namespace ulmara::qez::dft::c2c_3d_main
