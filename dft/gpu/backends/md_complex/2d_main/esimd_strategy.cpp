// The ESIMD strategy of the 2D main backend: the two-factor ESIMD plan, for
// dense layouts on Harix and Nopra. The plan makes its own internal
// workspace, takes the caller's workspace in add_workspace and runs the
// computes (the engine's backend glue does the record-level work).
#include "dft/gpu/backends/md_complex/2d_main/esimd_strategy.hpp"

#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/backend_glue.hpp"

namespace ulmara::qez::dft::c2c_2d_main {

namespace {

template <class T>
esimd_2_facts_plan<T>* plan_of(const block& b) {
  return static_cast<esimd_2_facts_plan<T>*>(b.esimd_plan);
}
}  // namespace

template <class T>
bool try_esimd_strategy(block& b, DFTI_DESCRIPTOR* record) {
  if (!md_complex::runs_esimd_engine(b.architecture)) return false;
  const std::vector<std::int64_t> lengths = {b.dims[0].length, b.dims[1].length};
  try {
    esimd_2_facts_plan<T>* plan = esimd_2_facts::commit_packed_plan<T>(
        record, b.queue, lengths, static_cast<std::uint64_t>(b.transforms));
    b.esimd_plan = plan;
    return plan != nullptr;
  } catch (const sycl::exception&) {
    return false;  // a strategy whose set-up fails is abandoned
  }
}

void destroy_esimd_plan(block& b) {
  if (b.esimd_plan == nullptr) return;
  if (b.double_precision) delete plan_of<double>(b);
  else delete plan_of<float>(b);
  b.esimd_plan = nullptr;
}

int esimd_add_workspace(block& b, void* workspace, int kind, std::uint64_t offset, std::uint32_t phase,
                        void* events) {
  if (b.double_precision)
    return esimd_2_facts::attach_workspace(*plan_of<double>(b), workspace, kind, offset, phase, events);
  return esimd_2_facts::attach_workspace(*plan_of<float>(b), workspace, kind, offset, phase, events);
}

void esimd_set_queue(block& b, sycl::queue* queue) {
  if (b.double_precision) plan_of<double>(b)->set_queue(queue);
  else plan_of<float>(b)->set_queue(queue);
}

template <class T>
int esimd_compute(block& b, void* input, void* output, void* dependencies, std::uint64_t container_kind,
                  void* result_event, plan_basics::direction d) {
  return esimd_2_facts::compute_with_plan(*plan_of<T>(b), d == plan_basics::dir_forward ? 0 : 1, input, output,
                                          dependencies, container_kind, result_event);
}

template bool try_esimd_strategy<float>(block&, DFTI_DESCRIPTOR*);
template bool try_esimd_strategy<double>(block&, DFTI_DESCRIPTOR*);
template int esimd_compute<float>(block&, void*, void*, void*, std::uint64_t, void*, plan_basics::direction);
template int esimd_compute<double>(block&, void*, void*, void*, std::uint64_t, void*, plan_basics::direction);

}  // namespace ulmara::qez::dft::c2c_2d_main
